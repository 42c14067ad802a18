#pragma once
// Fakes, helpers and the common fixture (ServiceRig) of the request-service tests.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/Clock.h"
#include "common/HostLink.h"
#include "common/MessageSink.h"
#include "link/LinkHandlers.h"
#include "link/ReceiveThread.h"
#include "link/SendThread.h"
#include "service/RequestService.h"
#include "support/FakeSerialPort.h"
#include "support/LineHolder.h"
#include "support/ManualTimers.h"
#include "support/Processes.h"
#include "support/RecordingHostLink.h"
#include "support/RecordingMessages.h"

namespace orderlink::test {

class RecordingMarker final : public SwitchOnMarker {
 public:
  void MarkSwitchedOn(const std::string& text) override { marked.push_back(text); }
  std::vector<std::string> marked;
};

// The app's receive hand-overs wired to the service as the composition does;
// `receiver` is the receive thread whose HoldOff a request sets.
struct ServiceHandlers : LinkHandlers {
  ServiceHandlers(LineActivity& line, RequestService& service, LineWorker& receiver)
      : LinkHandlers(line) {
    request = [&service, &receiver](const Message& m) { service.OnRequest(m, receiver); };
    timeQuery = [&service](const Message& m) { service.OnTimeQuery(m); };
  }
};

// The request service wired as the application wires it, on a fake line in virtual
// time: a send thread on a recording port (started by the test when it needs one), a
// receive thread fed by Feed (never started), the host link, the user's messages and
// the window's delayed steps all recorded (calls carried to the window thread wait
// among them). The service has no jobs registered and
// knows no handsets; the tests add what they need. The send thread is declared last,
// so it is joined before anything its jobs use is destroyed.
class ServiceRig : public ::testing::Test {
 protected:
  // `localTime` is where time answers take the time.
  explicit ServiceRig(RequestService::LocalTimeSource localTime = RequestService::CurrentLocalTime)
      : service{TxtDir(dir.Path()),
                host,
                messages,
                timers,
                &marker,
                clock,
                [this](std::function<void()> call) { timers.After(0, std::move(call)); },
                std::move(localTime)} {}

  TempAppDir dir;
  RecordingHostLink host;
  RecordingMessages messages;
  RecordingMarker marker;
  VirtualClock clock;
  FakeSerialPort port{&clock};
  ManualTimers timers{clock};
  LineActivity line;
  RequestService service;
  ServiceHandlers handlers{line, service, rcv};
  ReceiveThread rcv{nullptr, handlers, line, clock};
  SendThread send{&port, clock};
};

// A one-packet frame from handset `handset` to the PC, as the base station relays it.
inline std::string FrameToPc(std::string_view code, std::uint8_t handset, std::string_view payload,
                             std::uint8_t route = 0xC1) {
  return LongFrame(route, 0xFF, 1, false, code, static_cast<char>(handset) + std::string(payload));
}

// `bytes` as one chunk from the line, handled at once.
inline void Feed(ReceiveThread& thread, std::string_view bytes) {
  thread.StoreChunk(bytes);
  thread.HandleChunks();
}

}  // namespace orderlink::test
