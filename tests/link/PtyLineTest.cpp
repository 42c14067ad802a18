// The termios port on a real pseudo-terminal pair: the poller's frames arrive on
// the far end in handset order, about one period apart; hang-ups, exclusive opens
// and bounded reads. The input ring that the reads fill, and the texts of failed opens.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

#include "common/Clock.h"
#include "link/FrameCodec.h"
#include "link/HandsetPoller.h"
#include "link/SerialPort.h"
#include "support/FakeSerialPort.h"
#include "support/Processes.h"
#include "support/RecordingFrameSink.h"

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
  test::RecordingFrameSink handlers;
  LineActivity line;
  SendThread send(port.get(), clock);
  ReceiveThread rcv(port.get(), handlers, line, clock);
  HandsetPoller poller(send, rcv);
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
      EXPECT_EQ(rcv.ReadInput(), ReceiveThread::InputResult::Stored);
      rcv.HandleChunks();  // what the receive thread does with the chunk
      break;
    }
  }
  send.TerminateAndJoin();
  ASSERT_EQ(handlers.events.size(), 1u);
  EXPECT_EQ(handlers.events[0], "request DL   5 ok");
}

TEST(PtyLine, MissingAndWrongDevicesAreRefusedWithTheirReason) {
  PortOpenError error;
  EXPECT_EQ(OpenSerialPort("/nonexistent/ttyX", &error), nullptr);
  EXPECT_EQ(error.device, "/nonexistent/ttyX");
  EXPECT_EQ(error.code, ENOENT);
  EXPECT_EQ(OpenSerialPort("/dev/null", &error), nullptr);
  EXPECT_EQ(error.code, ENOTTY) << "not a serial device";
  std::string summary;
  EXPECT_EQ(OpenSerialPort("/nonexistent/ttyX", &summary), nullptr);
  EXPECT_EQ(summary.rfind("/nonexistent/ttyX: ", 0), 0u) << summary;
}

// The send thread writes while the window thread reads: the hang-up that a read
// sees stops the writes of the other thread at once, and is reported once.
TEST(PtyLine, AHangUpSeenByTheReaderStopsTheWritersOnOtherThreads) {
  auto pty = std::make_unique<test::PtyPair>();
  PortOpenError error;
  auto port = OpenSerialPort(pty->SlavePath(), &error);
  ASSERT_NE(port, nullptr) << error.Summary();
  std::string bytes;
  EXPECT_EQ(port->Read(bytes, kMaxReadBytes), ReadOutcome::Ok);  // nothing came: not a hang-up
  EXPECT_TRUE(bytes.empty());

  std::atomic<bool> writerStopped{false};
  std::thread writer([&] {
    const std::string poll = PollFrame(1);
    while (port->Write(poll)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    writerStopped = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  pty.reset();  // the far end goes away
  ReadOutcome outcome = ReadOutcome::Ok;
  for (int i = 0; i < 500 && outcome == ReadOutcome::Ok; ++i) {
    outcome = port->Read(bytes, kMaxReadBytes);
    if (outcome == ReadOutcome::Ok) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(outcome, ReadOutcome::HungUp);
  writer.join();
  EXPECT_TRUE(writerStopped);
  EXPECT_FALSE(port->Write("x"));
  EXPECT_EQ(port->Read(bytes, kMaxReadBytes), ReadOutcome::HungUp);
}

TEST(PtyLine, ASecondOpenOfTheSameDeviceFailsAsBusyUntilTheFirstIsClosed) {
  test::PtyPair pty;
  PortOpenError error;
  auto first = OpenSerialPort(pty.SlavePath(), &error);
  ASSERT_NE(first, nullptr) << error.Summary();
  EXPECT_EQ(OpenSerialPort(pty.SlavePath(), &error), nullptr);
  EXPECT_EQ(error.code, EBUSY);
  EXPECT_EQ(error.device, pty.SlavePath());

  // The refused open changed nothing on the line of the first.
  pty.Write("abc");
  std::string bytes;
  for (int i = 0; i < 100 && bytes.empty(); ++i) {
    ASSERT_EQ(first->Read(bytes, kMaxReadBytes), ReadOutcome::Ok);
    if (bytes.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(bytes, "abc");

  first.reset();
  EXPECT_NE(OpenSerialPort(pty.SlavePath(), &error), nullptr) << error.Summary();
}

TEST(PtyLine, OneReadTakesAtMostOneChunkAndLeavesTheRestInTheKernel) {
  test::PtyPair pty;
  PortOpenError error;
  auto port = OpenSerialPort(pty.SlavePath(), &error);
  ASSERT_NE(port, nullptr) << error.Summary();
  const std::size_t sent = 3 * kMaxReadBytes;
  // The far end writes more than the tty holds at once: it waits for the reads.
  std::thread farEnd([&] { pty.Write(std::string(sent, 'x')); });
  std::size_t got = 0;
  int reads = 0;
  for (int i = 0; i < 500 && got < sent; ++i) {
    std::string bytes;
    if (port->Read(bytes, kMaxReadBytes) != ReadOutcome::Ok) break;
    EXPECT_LE(bytes.size(), kMaxReadBytes);
    if (bytes.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    got += bytes.size();
    reads += bytes.empty() ? 0 : 1;
  }
  farEnd.join();
  EXPECT_EQ(got, sent);
  EXPECT_GE(reads, 3);
}

TEST(PortOpenErrorText, NamesTheDeviceTheReasonAndTheRemedy) {
  struct Row {
    PortOpenError error;
    std::string expected;
  };
  const Row rows[] = {
      {{"/dev/ttyUSB0", EACCES, "Permission denied", "dialout"},
       "/dev/ttyUSB0（Permission denied）：没有权限，请将当前用户加入dialout组，然后重新登录。"},
      {{"/dev/ttyUSB0", EACCES, "Permission denied", ""},
       "/dev/ttyUSB0（Permission denied）：没有权限，请让管理员授予当前用户访问该设备的权限。"},
      {{"/dev/serial/by-id/usb-x", ENOENT, "No such file or directory", ""},
       "/dev/serial/by-id/usb-x（No such file or directory）：设备不存在，请检查设置ORDERLINK_COM3"
       "（已连接的USB串口适配器列在/dev/serial/by-id/中）。"},
      {{"/dev/ttyS2", EIO, "Input/output error", ""},
       "/dev/ttyS2（Input/output error）：无法打开串口。"},
      {{"/dev/ttyUSB0", ENXIO, "No such device or address", ""},
       "/dev/ttyUSB0（No such device or address）：设备不存在，请检查设置ORDERLINK_COM3"
       "（已连接的USB串口适配器列在/dev/serial/by-id/中）。"},
      {{"/dev/ttyUSB0", EBUSY, "Device or resource busy", ""},
       "/dev/ttyUSB0（Device or resource busy）：串口已被另一个程序占用，请先关闭该程序。"},
      {{"/dev/null", ENOTTY, "Inappropriate ioctl for device", ""},
       "/dev/null（Inappropriate ioctl for device）：不是串口设备，请检查设置ORDERLINK_COM3。"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(DescribePortOpenError(row.error, 3), row.expected) << row.error.code;
  }
}

// The input ring with the port read by hand (the receive thread is not started).
class InputRing : public ::testing::Test {
 protected:
  SystemClock clock;
  test::RecordingFrameSink handlers;
  test::FakeSerialPort port;
  LineActivity line;
  ReceiveThread rcv{&port, handlers, line, clock};
};

TEST_F(InputRing, TheParserStartsAfreshWithTheFirstChunkOfANewDevice) {
  const std::string first = test::LongFrame(0xC0, 0xFF, 1, true, "DC  ",
                                            ""
                                            "A");
  const std::string second = test::LongFrame(0xC0, 0xFF, 2, false, "DC  ", "B");
  ASSERT_TRUE(rcv.StoreChunk(first));
  rcv.ResetParserBeforeNextChunk();
  ASSERT_TRUE(rcv.StoreChunk(second));
  rcv.HandleChunks();
  EXPECT_TRUE(handlers.events.empty()) << "the new device's packet joined the old one's";

  // Chunks stored before the mark are parsed with the state they found.
  ASSERT_TRUE(rcv.StoreChunk(first));
  ASSERT_TRUE(rcv.StoreChunk(second));
  rcv.HandleChunks();
  EXPECT_EQ(handlers.events, std::vector<std::string>{"request DC   7 AB"});
}

TEST(PtyLine, ComPortsMapToEnvironmentOrTtyS) {
  setenv("ORDERLINK_COM3", "/dev/ttyUSB0", 1);
  EXPECT_EQ(ComDevicePath(3), "/dev/ttyUSB0");
  unsetenv("ORDERLINK_COM3");
  EXPECT_EQ(ComDevicePath(3), "/dev/ttyS2");
}

}  // namespace
}  // namespace orderlink
