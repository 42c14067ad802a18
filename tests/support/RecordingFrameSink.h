#pragma once
#include <string>
#include <vector>

#include "link/FrameParser.h"

namespace orderlink::test {

// Records every message the parser hands over as a line "<kind> <code> <handset> <payload>"
// ("time <handset>" for a time query), and its other events.
class RecordingFrameSink : public FrameSink {
 public:
  void OnMessage(const Message& m) override {
    if (m.kind == MessageKind::TimeQuery) {
      events.push_back("time " + std::to_string(m.handset));
      return;
    }
    events.push_back(std::string(KindName(m.kind)) + " " + std::string(m.command) + " " +
                     std::to_string(m.handset) + " " + std::string(m.payload));
  }
  void OnDiscardedPacket() override { ++discarded; }
  void OnRouteByte(std::uint8_t route) override { lastRoute = route; }

  std::vector<std::string> events;
  int discarded = 0;
  int lastRoute = -1;  // -1: no route byte seen

 private:
  static const char* KindName(MessageKind kind) {
    switch (kind) {
      case MessageKind::TestAnswer:
        return "test";
      case MessageKind::DownloadResult:
        return "result";
      case MessageKind::ResendRequest:
        return "resend";
      case MessageKind::TimeQuery:
        return "time";
      case MessageKind::Request:
        break;
    }
    return "request";
  }
};

}  // namespace orderlink::test
