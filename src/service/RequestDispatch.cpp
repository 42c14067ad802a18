#include "service/RequestDispatch.h"

#include <algorithm>
#include <string>

#include "service/RequestRecords.h"

namespace orderlink {

namespace {
// Quiet the receive thread asks for while a request is handled (ms).
constexpr std::int32_t kHandlingHoldOff = 1000;
}  // namespace

int LookupRequestKind(std::string_view code) {
  for (std::size_t i = 0; i < RequestCodeTable.size(); ++i) {
    if (RequestCodeTable[i] == code) return kFirstRequestKind + static_cast<int>(i);
  }
  return -1;
}

DispatchResult DispatchRequest(LineWorker& thread, const RequestFrame& frame, const TxtDir& txt,
                               HostLink& host, SwitchOnMarker* marker,
                               const std::function<void(const DispatchResult&)>& beforeNotify) {
  DispatchResult result;
  thread.Touch();
  thread.HoldOff = kHandlingHoldOff;
  result.kind = LookupRequestKind(frame.code);
  if (result.kind < 0) return result;
  thread.Touch();
  thread.HoldOff = kHandlingHoldOff;

  // The handset text as the record carries it (blank-filled like the record).
  result.handsetText = std::string(frame.payload.substr(0, 3));
  result.handsetText.resize(3, ' ');
  result.recordPath = txt.ForWrite("T1.txt");
  if (!WriteRequestRecord(result.kind, frame.payload, result.recordPath, &result.writeError)) {
    result.outcome = DispatchResult::Outcome::NotWritten;
    return result;
  }
  if (result.kind == kLoginKind && marker != nullptr) marker->MarkSwitchedOn(result.handsetText);
  if (beforeNotify) beforeNotify(result);
  // Quiet first, then the notification: a quick answer's ClearHoldOff must not be
  // overtaken by this hold-off.
  thread.HoldOff = kAwaitReplyHoldOffMs;
  host.Notify(NotifyRequest);
  result.outcome = DispatchResult::Outcome::Notified;
  return result;
}

}  // namespace orderlink
