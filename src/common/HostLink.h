#pragma once
// The link to the ordering software: posted messages both ways, HostNotify with its
// code and WM_CLOSE. Posting never blocks and never reports a failure; no answer is
// awaited.

#include <cstdint>
#include <vector>

namespace orderlink {

enum HostNotifyCode : int {
  NotifyShortMessage = 0,  // host -> us: a short message is in DX.txt
  NotifyRequest = 1,       // us -> host: T1.txt holds a request; host -> us: R1.txt holds a reply
  NotifyLogin = 10,        // us -> host: DL.txt holds a login; host -> us: the verdict is in DL.txt
  NotifyDownload = 11,     // us -> host: a download was asked for; host -> us: tables are ready
};

inline constexpr std::uint32_t kHostNotifyMessage = 1280;  // WM_USER + 256
inline constexpr std::uint32_t kCloseMessage = 16;         // WM_CLOSE

struct HostMessage {
  std::uint32_t message = 0;
  std::uint32_t wParam = 0;
  std::int32_t lParam = 0;
  bool operator==(const HostMessage&) const = default;
};

class HostLink {
 public:
  virtual ~HostLink() = default;
  // Posts HostNotify(0, code) to HostWindow. Callable from any thread.
  virtual void Notify(int code) = 0;
};

// The whole link as the application core uses it: window handles, posting, and the
// messages that came in. A window handle is a port number (loopback UDP).
class HostConnection : public HostLink {
 public:
  // Our own window handle, which the host posts to.
  [[nodiscard]] virtual int OwnPort() const = 0;
  // The window we post to (HostWindow): the host's, or our own in debug mode. 0 while
  // not known: nothing is posted and nothing is accepted.
  virtual void SetHostPort(int port) = 0;
  [[nodiscard]] virtual int HostPort() const = 0;
  // Any message to HostWindow. Any thread.
  virtual void Post(const HostMessage& message) = 0;
  // Window thread: every accepted message waiting, in arrival order.
  [[nodiscard]] virtual std::vector<HostMessage> ReadPending() = 0;
};

}  // namespace orderlink
