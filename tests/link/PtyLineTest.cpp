// The termios port on a real pseudo-terminal pair: the poller's frames arrive on
// the far end in handset order, about one period apart.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>

#include "common/Clock.h"
#include "link/SerialPort.h"
#include "link/TComCtr.h"
#include "support/FakeSerialPort.h"
#include "support/Processes.h"
#include "support/RecordingHandlers.h"

namespace orderlink {
namespace {

TEST(PtyLine, OpensAPseudoTerminalAndPollsInHandsetOrder) {
  test::PtyPair pty;
  ASSERT_FALSE(pty.SlavePath().empty());
  std::string error;
  auto port = OpenSerialPort(pty.SlavePath(), &error);
  ASSERT_NE(port, nullptr) << error;
  EXPECT_EQ(port->OutputPending(), 0);

  SystemClock clock;
  test::RecordingHandlers handlers;
  TSendThread send(port.get(), clock);
  TRcvThread rcv(port.get(), handlers, clock);
  TComCtr poller(send, rcv);
  for (int n : {7, 8, 9}) poller.Add(n);
  send.Start();
  poller.Start(15);
  const std::string got = pty.Read(66 * 9);
  poller.Stop();

  ASSERT_GE(got.size(), 6u * 4);
  const std::string expected = test::Hex("00 00 00 C0 01 07 00 00 00 C0 01 08 00 00 00 C0 01 09");
  EXPECT_EQ(got.substr(0, expected.size()), expected);

  // Bytes from the far end reach the receive thread through ReadInput.
  const std::string frame = test::Hex("00 00 00 C0 02 0A FF 01 00 44 4C 20 20 05 6F 6B");
  ASSERT_EQ(write(pty.Master(), frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
  for (int i = 0; i < 100; ++i) {
    pollfd p{port->Handle(), POLLIN, 0};
    if (poll(&p, 1, 10) > 0) {
      EXPECT_EQ(rcv.ReadInput(), ReadOutcome::Ok);
      rcv.HandleChunks();  // what the receive thread does with the chunk
      break;
    }
  }
  send.TerminateAndJoin();
  ASSERT_EQ(handlers.events.size(), 1u);
  EXPECT_EQ(handlers.events[0], "request DL   5 ok");
}

TEST(PtyLine, HangUpIsReportedOnceAndMissingDevicesAreRefused) {
  std::string error;
  EXPECT_EQ(OpenSerialPort("/nonexistent/ttyX", &error), nullptr);
  EXPECT_NE(error.find("/nonexistent/ttyX"), std::string::npos);
  EXPECT_EQ(OpenSerialPort("/dev/null", &error), nullptr);  // not a serial device

  auto pty = std::make_unique<test::PtyPair>();
  auto port = OpenSerialPort(pty->SlavePath(), &error);
  ASSERT_NE(port, nullptr) << error;
  std::string bytes;
  EXPECT_EQ(port->ReadAll(bytes), ReadOutcome::Ok);  // nothing came: not a hang-up
  pty.reset();  // the far end goes away
  EXPECT_EQ(port->ReadAll(bytes), ReadOutcome::HungUp);
  EXPECT_FALSE(port->Write("x"));
}

TEST(PtyLine, ComPortsMapToEnvironmentOrTtyS) {
  setenv("ORDERLINK_COM3", "/dev/ttyUSB0", 1);
  EXPECT_EQ(ComDevicePath(3), "/dev/ttyUSB0");
  unsetenv("ORDERLINK_COM3");
  EXPECT_EQ(ComDevicePath(3), "/dev/ttyS2");
}

}  // namespace
}  // namespace orderlink
