#pragma once
// The receive thread's hand-overs, forwarded to the subsystem that serves each one.
// The hooks are filled by the composition before the receive thread starts and not
// changed afterwards; an empty hook does nothing. Hooks run on the receive thread
// and must not wait for the window thread.

#include <atomic>
#include <functional>

#include "link/TRcvThread.h"

namespace orderlink {

class LinkHandlers final : public RcvHandlers {
 public:
  using MessageHook = std::function<void(TRcvThread&)>;

  MessageHook testAnswer;      // "TXCS": link test
  MessageHook downloadResult;  // "XZWC" / "XZSB": download status
  MessageHook resendRequest;   // "XZCC": download resend
  MessageHook timeQuery;       // "SJCX": time query
  MessageHook request;         // any other command: request dispatch
  std::function<void()> discardedPacket;  // re-arms the download status timer

  void OnTestAnswer(TRcvThread& thread) override { Call(testAnswer, thread); }
  void OnDownloadResult(TRcvThread& thread) override { Call(downloadResult, thread); }
  void OnResendRequest(TRcvThread& thread) override { Call(resendRequest, thread); }
  void OnTimeQuery(TRcvThread& thread) override { Call(timeQuery, thread); }
  void OnRequest(TRcvThread& thread) override { Call(request, thread); }
  void OnDiscardedPacket() override {
    if (discardedPacket) discardedPacket();
  }
  // The diagnostic field only needs the latest text; the parser passes literals.
  void ShowParserState(const char* text) override { parserState_.store(text); }
  [[nodiscard]] const char* ParserState() const { return parserState_.load(); }

 private:
  static void Call(const MessageHook& hook, TRcvThread& thread) {
    if (hook) hook(thread);
  }
  std::atomic<const char*> parserState_{""};
};

}  // namespace orderlink
