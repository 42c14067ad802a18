// The exchange files R1.txt and DX.txt when they cannot be read, and short-message
// numbers that do not fit the one byte that addresses a handset (on a real pty line).
#include <gtest/gtest.h>

#include <filesystem>

#include "ServiceFakes.h"
#include "common/Clock.h"
#include "common/Gbk.h"
#include "common/TextFile.h"
#include "link/SerialPort.h"
#include "support/LogCapture.h"

namespace orderlink {
namespace {

using test::Hex;

class ExchangeFilesTest : public test::ServiceRig {
 protected:
  void SetUp() override {
    service.AddHandset("012");
    service.ConnectLine(send, line);
  }
};

TEST_F(ExchangeFilesTest, UnreadableReplyFileIsLoggedWithItsReasonAndNothingIsSent) {
  std::filesystem::create_directory(dir.Txt("R1.txt"));
  test::LogCapture log;
  send.Run(service.ReplyWork());
  EXPECT_TRUE(port.Writes().empty());
  EXPECT_EQ(log.Containing("R1.txt无法读取：Is a directory").size(), 1u);
  EXPECT_TRUE(messages.Messages().empty()) << "a missing reply shows nothing either";
}

TEST_F(ExchangeFilesTest, UnreadableShortMessageFileIsShownWithItsReason) {
  send.Start();
  service.OnHostShortMessage(&send);  // missing: the message stays as it always was
  std::filesystem::create_symlink(dir.Txt("gone.txt"), dir.Txt("DX.txt"));
  service.OnHostShortMessage(&send);
  ASSERT_TRUE(test::WaitIdle(send));
  send.TerminateAndJoin();
  EXPECT_EQ(messages.Messages(), (std::vector<std::string>{
                                     "没有生成短信文件，请检查！（在" + dir.Path() + "/TXT中查找）",
                                     "DX.txt无法读取：它是一个链接，链接指向的文件不存在"}));
  EXPECT_TRUE(port.Writes().empty());
}

// A sender or target of 256 and more would reach the handset of its low byte.
TEST(ShortMessageLineTest, NumbersAboveByteRangeAreRefusedNotWrapped) {
  test::PtyPair pty;
  std::string error;
  auto port = OpenSerialPort(pty.SlavePath(), &error);
  ASSERT_NE(port, nullptr) << error;
  test::TempAppDir dir;
  test::RecordingHostLink host;
  test::RecordingMessages messages;
  SystemClock clock;
  VirtualClock windowClock;
  test::ManualTimers timers{windowClock};
  LineActivity activity;
  RequestService service{TxtDir(dir.Path()), host, messages, timers, nullptr, windowClock, {}};
  SendThread send{port.get(), clock};
  service.AddHandset("012");
  service.AddHandset("300");  // a node text that no byte can address
  service.ConnectLine(send, activity);
  send.Start();

  test::LogCapture log;
  for (const std::string line : {"256 012 hi", "003 300 hi"}) {
    ASSERT_TRUE(WriteFileBytes(dir.Txt("DX.txt"), line + "\r\n"));
    service.OnHostShortMessage(&send);
    ASSERT_TRUE(test::WaitIdle(send));
  }
  EXPECT_EQ(pty.Read(400), "") << "nothing may reach handsets 0 or 44";
  EXPECT_EQ(log.Containing("names no sender or target handset number 0-255").size(), 2u);

  // The same message from a sender that fits goes out: the line itself works.
  ASSERT_TRUE(WriteFileBytes(dir.Txt("DX.txt"), "003 012 hi\r\n"));
  service.OnHostShortMessage(&send);
  const std::string expected = Hex("00 00 00 C0 02 14 03 01 00") + "DX  " +
                               Utf8ToGbk("短信发送成功!") + Hex("00 00 00 C0 02 07 03 01 00") +
                               "FHJS" + Hex("00 00 00 C0 02 0D 0C 01 00") + "DX  003 hi";
  EXPECT_EQ(test::ToHex(pty.ReadAtLeast(expected.size(), 3000)), test::ToHex(expected));
  ASSERT_TRUE(test::WaitIdle(send));
  send.TerminateAndJoin();
  EXPECT_TRUE(messages.Messages().empty());
}

}  // namespace
}  // namespace orderlink
