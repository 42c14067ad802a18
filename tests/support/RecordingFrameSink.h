#pragma once
#include <string>
#include <vector>

#include "link/TRcvThread.h"

namespace orderlink::test {

// Records every hand-over of the receive thread as a line "<kind> <code> <handset> <payload>".
class RecordingHandlers : public RcvHandlers {
 public:
  void OnTestAnswer(TRcvThread& t) override { Record("test", t); }
  void OnDownloadResult(TRcvThread& t) override { Record("result", t); }
  void OnResendRequest(TRcvThread& t) override { Record("resend", t); }
  void OnTimeQuery(TRcvThread& t) override {
    events.push_back("time " + std::to_string(t.HandsetNumber()));
  }
  void OnRequest(TRcvThread& t) override { Record("request", t); }
  void OnDiscardedPacket() override { ++discarded; }
  void ShowParserState(const char* text) override { lastState = text; }

  std::vector<std::string> events;
  int discarded = 0;
  std::string lastState;

 private:
  void Record(const char* kind, TRcvThread& t) {
    events.push_back(std::string(kind) + " " + std::string(t.Command()) + " " +
                     std::to_string(t.HandsetNumber()) + " " + std::string(t.Payload()));
  }
};

}  // namespace orderlink::test
