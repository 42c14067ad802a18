#pragma once
// The ordering software's side of the HostNotify message. Posting never blocks and
// never reports a failure; no answer is awaited.

namespace orderlink {

enum HostNotifyCode : int {
  NotifyShortMessage = 0,  // host -> us: a short message is in DX.txt
  NotifyRequest = 1,       // us -> host: T1.txt holds a request; host -> us: R1.txt holds a reply
  NotifyLogin = 10,        // us -> host: DL.txt holds a login; host -> us: the verdict is in DL.txt
  NotifyDownload = 11,     // us -> host: a download was asked for; host -> us: tables are ready
};

class HostLink {
 public:
  virtual ~HostLink() = default;
  // Posts HostNotify(0, code) to HostWindow. Callable from any thread.
  virtual void Notify(int code) = 0;
};

}  // namespace orderlink
