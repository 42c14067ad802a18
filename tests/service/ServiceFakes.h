#pragma once
// Fakes and helpers shared by the request-service tests.

#include <string>
#include <vector>

#include "common/HostLink.h"
#include "common/Messages.h"
#include "link/TRcvThread.h"
#include "link/TSendThread.h"
#include "service/RequestService.h"
#include "support/FakeSerialPort.h"
#include "support/LineHolder.h"
#include "support/ManualTimers.h"
#include "support/Processes.h"
#include "support/RecordingMessages.h"

namespace orderlink::test {

// Notifications arrive on the thread that parses, the test's own here.
class RecordingHostLink final : public HostLink {
 public:
  void Notify(int code) override { codes.push_back(code); }
  std::vector<int> codes;
};

class RecordingMarker final : public SwitchOnMarker {
 public:
  void MarkSwitchedOn(const std::string& text) override { marked.push_back(text); }
  std::vector<std::string> marked;
};

// The part of the app's receive hand-overs that belongs to the service.
class ServiceHandlers final : public RcvHandlers {
 public:
  explicit ServiceHandlers(RequestService& service) : service_(service) {}
  void OnTestAnswer(TRcvThread&) override {}
  void OnDownloadResult(TRcvThread&) override {}
  void OnResendRequest(TRcvThread&) override {}
  void OnTimeQuery(TRcvThread& thread) override { service_.OnTimeQuery(thread); }
  void OnRequest(TRcvThread& thread) override { service_.OnRequest(thread); }
  void OnDiscardedPacket() override {}
  void ShowParserState(const char*) override {}

 private:
  RequestService& service_;
};

// A one-packet frame from handset `handset` to the PC, as the base station relays it.
inline std::string FrameToPc(std::string_view code, std::uint8_t handset, std::string_view payload,
                             std::uint8_t route = 0xC1) {
  return LongFrame(route, 0xFF, 1, false, code, static_cast<char>(handset) + std::string(payload));
}

inline void Feed(TRcvThread& thread, std::string_view bytes) {
  for (char c : bytes) thread.ParseByte(static_cast<std::uint8_t>(c));
}

}  // namespace orderlink::test
