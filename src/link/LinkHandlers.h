#pragma once
// The parser's hand-overs, forwarded to the subsystem that serves each kind of
// message. The hooks are filled by the composition before the receive thread starts
// and not changed afterwards; an empty hook does nothing. Hooks run on the receive
// thread and must not wait for the window thread.

#include <functional>

#include "link/FrameParser.h"
#include "link/LineActivity.h"

namespace orderlink {

class LinkHandlers : public FrameSink {
 public:
  // `line` takes the route byte of every frame received; it must outlive the handlers.
  explicit LinkHandlers(LineActivity& line) : line_(line) {}

  using MessageHook = std::function<void(const Message&)>;

  MessageHook testAnswer;      // kCodeLinkTest: link test
  MessageHook downloadResult;  // kCodeDownloadComplete / kCodeDownloadFailed: download status
  MessageHook resendRequest;   // kCodeDownloadRecordsMissing: download resend
  MessageHook timeQuery;       // kCodeTime: time query
  MessageHook request;         // any other command: request dispatch
  std::function<void()> discardedPacket;       // re-arms the download status timer
  std::function<void(DiscardReason)> discard;  // marks the trace

  void OnMessage(const Message& message) override {
    const MessageHook& hook = HookFor(message.kind);
    if (hook) hook(message);
  }
  void OnDiscardedPacket() override {
    if (discardedPacket) discardedPacket();
  }
  void OnDiscard(DiscardReason reason) override {
    if (discard) discard(reason);
  }
  void OnRouteByte(std::uint8_t route) override { line_.replyRoute = route; }

 private:
  [[nodiscard]] const MessageHook& HookFor(MessageKind kind) const {
    switch (kind) {
      case MessageKind::TestAnswer:
        return testAnswer;
      case MessageKind::DownloadResult:
        return downloadResult;
      case MessageKind::ResendRequest:
        return resendRequest;
      case MessageKind::TimeQuery:
        return timeQuery;
      case MessageKind::Request:
        break;
    }
    return request;
  }
  LineActivity& line_;
};

}  // namespace orderlink
