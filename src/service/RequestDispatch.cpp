#include "service/RequestDispatch.h"

#include <algorithm>
#include <string>

#include "common/Log.h"
#include "service/RequestRecords.h"

namespace orderlink {

namespace {
// Hold-offs of the receive thread (ms): a short quiet while the request is handled,
// then up to 15 s for the host to answer (its reply clears it).
constexpr std::int32_t kHandlingHoldOff = 1000;
constexpr std::int32_t kAwaitReplyHoldOff = 15000;
}  // namespace

int LookupRequestKind(std::string_view code) {
  for (std::size_t i = 0; i < RequestCodeTable.size(); ++i) {
    if (RequestCodeTable[i] == code) return kFirstRequestKind + static_cast<int>(i);
  }
  return -1;
}

std::string_view CommandText(std::string_view field) {
  field = field.substr(0, 4);
  return field.substr(0, std::min(field.find('\0'), field.size()));
}

void DispatchRequest(LineWorker& thread, const RequestFrame& frame, const TxtDir& txt,
                     HostLink& host, SwitchOnMarker* marker) {
  thread.Touch();
  thread.HoldOff = kHandlingHoldOff;
  const int kind = LookupRequestKind(frame.code);
  if (kind < 0) return;
  thread.Touch();
  thread.HoldOff = kHandlingHoldOff;

  const auto path = txt.ForWrite("T1.txt");
  if (!WriteRequestRecord(kind, frame.payload, path)) {
    LogError("cannot write " + path.string() + "; the \"" + std::string(frame.code) +
             "\" request is lost");
    return;
  }
  if (kind == kLoginKind && marker != nullptr) {
    // The handset text as the record carries it (blank-filled like the record).
    std::string handsetText(frame.payload.substr(0, 3));
    handsetText.resize(3, ' ');
    marker->MarkSwitchedOn(handsetText);
  }
  // Quiet first, then the notification: a quick answer's ClearHoldOff must not be
  // overtaken by this hold-off.
  thread.HoldOff = kAwaitReplyHoldOff;
  host.Notify(NotifyRequest);
}

}  // namespace orderlink
