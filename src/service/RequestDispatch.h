#pragma once
// Request dispatch: a handset's request becomes a record in T1.txt for the ordering
// software, which is told by HostNotify code 1; polling is held off while it works.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "common/HostLink.h"
#include "common/TxtDir.h"
#include "link/LineWorker.h"
#include "link/Protocol.h"

namespace orderlink {

// Kind (10..31) of the first table entry equal to `code`, byte for byte, trailing
// blanks included; -1 when none is.
[[nodiscard]] int LookupRequestKind(std::string_view code);

// Told when a handset logs in. Called on the receive thread: the implementation
// carries the mark to the monitor list without waiting for the window.
class SwitchOnMarker {
 public:
  virtual ~SwitchOnMarker() = default;
  // `handsetText` is the three-character handset text of the request ("007").
  virtual void MarkSwitchedOn(const std::string& handsetText) = 0;
};

// A complete request as the receive thread hands it over.
struct RequestFrame {
  std::string_view code;     // CommandText of the command field
  std::string_view payload;  // the content after the handset byte
};

// How long polling waits for the ordering software's answer to a request (ms); its
// reply clears the wait sooner.
inline constexpr std::int32_t kAwaitReplyHoldOffMs = 15000;
// A request that repeats the awaited one byte for byte within this time (ms) is a
// copy the radio delivered twice; a handset's own retry comes after its time-out.
inline constexpr std::int64_t kCopyWindowMs = 1000;

// What became of one request.
struct DispatchResult {
  enum class Outcome {
    UnknownCode,  // no request code: nothing written, nobody told
    NotWritten,   // T1.txt could not be replaced: the request is lost, the host not told
    Notified,     // the record is in T1.txt and the host was told
  };
  Outcome outcome = Outcome::UnknownCode;
  int kind = -1;
  std::string handsetText;  // the record's handset text (bytes 0-2 of the payload)
  std::filesystem::path recordPath;
  int writeError = 0;  // errno of the failed write (NotWritten)
};

// Receive thread. Writes the kind's record to T1.txt, marks a logged-in handset,
// runs `beforeNotify` with the result so far (when given), posts code 1 to the host and holds
// polling off (thread's HoldOff kAwaitReplyHoldOffMs) until the host's reply clears it. An unknown
// code does nothing beyond HoldOff 1000. A record that cannot be written loses the
// request: the host is not told (it would answer a request it never saw); telling
// the user is the caller's part.
DispatchResult DispatchRequest(LineWorker& thread, const RequestFrame& frame, const TxtDir& txt,
                               HostLink& host, SwitchOnMarker* marker,
                               const std::function<void(const DispatchResult&)>& beforeNotify = {});

}  // namespace orderlink
