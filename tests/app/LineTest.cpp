// The built program as a process: on a pty pair through the real termios port, and
// beside a UDP socket standing in for the ordering software.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>

#include "app/UdpHostLink.h"
#include "link/FrameCodec.h"
#include "support/AppTestSupport.h"
#include "support/FakeSerialPort.h"
#include "support/Processes.h"

namespace orderlink {
namespace {

using test::LittleEndianMessage;

std::string ProgramPath() { return std::string(ORDERLINK_BIN_DIR) + "/orderlink"; }

// The built program with the environment of a line test.
test::ChildProcess StartProgram(const std::vector<std::string>& args, const std::string& appDir,
                                const std::string& com1) {
  std::vector<std::string> argv = {ProgramPath()};
  argv.insert(argv.end(), args.begin(), args.end());
  return test::ChildProcess(argv, {"ORDERLINK_APPDIR=" + appDir, "ORDERLINK_COM1=" + com1,
                                   "ORDERLINK_NONINTERACTIVE=1", "QT_QPA_PLATFORM=offscreen"});
}

class LineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(ProgramPath())) GTEST_SKIP() << "build the orderlink target first";
  }
  test::TempAppDir dir;
  test::PtyPair pty;
};

TEST_F(LineTest, PollsTheConfiguredHandsetsInOrderAndEndsOnSigterm) {
  dir.WriteGbk("基站.txt", "1 COM1\r\n");
  dir.WriteGbk("点菜机.txt", "001 1\r\n007 1\r\n004 2\r\n012 1\r\n");
  auto program = StartProgram({"DEBUG"}, dir.Path(), pty.SlavePath());

  std::string expected;
  for (int number : {1, 7, 12, 1, 7, 12, 1})
    expected += PollFrame(static_cast<std::uint8_t>(number));
  const std::string polled = pty.ReadAtLeast(expected.size(), 15000);
  EXPECT_EQ(test::ToHex(polled), test::ToHex(expected));

  program.Signal(SIGTERM);
  EXPECT_EQ(program.Wait(10000), 0);
  EXPECT_EQ(program.Stderr().find("message:"), std::string::npos) << program.Stderr();
}

TEST_F(LineTest, AnnouncesItselfToTheOrderingSoftwareAndSaysGoodbye) {
  dir.WriteGbk("基站.txt", "1 COM1\r\n");
  dir.WriteGbk("点菜机.txt", "001 1\r\n");
  test::UdpPeer ordering;
  auto program = StartProgram({std::to_string(ordering.Port())}, dir.Path(), pty.SlavePath());

  const auto announce = ordering.ReceiveBytes(15000);
  ASSERT_TRUE(announce);
  // The announcement carries the program's own port: the one it sends from.
  EXPECT_EQ(announce->bytes, LittleEndianMessage(1280, 0, announce->fromPort));

  // A stranger cannot close it: polling goes on afterwards.
  (void)pty.ReadAtLeast(1 << 20, 300);
  test::UdpPeer stranger;
  stranger.SendBytes(announce->fromPort, EncodeHostMessage(HostMessage{kCloseMessage, 0, 0}));
  EXPECT_EQ(test::ToHex(pty.ReadAtLeast(12, 15000)), test::ToHex(PollFrame(1) + PollFrame(1)));

  program.Signal(SIGINT);
  const auto goodbye = ordering.ReceiveBytes(10000);
  ASSERT_TRUE(goodbye);
  EXPECT_EQ(goodbye->bytes, LittleEndianMessage(16, 0, 0));
  EXPECT_EQ(goodbye->fromPort, announce->fromPort);
  EXPECT_EQ(program.Wait(10000), 0);
}

TEST_F(LineTest, AFatalStartEndsTheProgramByItself) {
  auto program = StartProgram({"DEBUG"}, dir.Path(), pty.SlavePath());
  EXPECT_EQ(program.Wait(15000), 1);  // a failed start is not a normal close
  EXPECT_NE(
      program.Stderr().find("message: 基站.txt文件不存在！（在" + dir.Path() + "/TXT中查找）\n"),
      std::string::npos)
      << program.Stderr();
}

}  // namespace
}  // namespace orderlink
