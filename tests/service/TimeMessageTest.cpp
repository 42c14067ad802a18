#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "ServiceFakes.h"
#include "common/Clock.h"
#include "common/Gbk.h"
#include "common/TextFile.h"
#include "link/HandsetPoller.h"
#include "service/RollCallButton.h"
#include "service/TimeAndMessages.h"

namespace orderlink {
namespace {

using test::Hex;
using test::ToHex;

std::tm LocalTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return t;
}

TEST(TimeReplyTextTest, SixBinaryBytes) {
  EXPECT_EQ(ToHex(TimeReplyText(LocalTime(2026, 12, 7, 8, 5, 0))), "1A 0C 07 08 05 00");
  EXPECT_EQ(ToHex(TimeReplyText(LocalTime(1999, 1, 31, 23, 59, 59))), "FF 01 1F 17 3B 3B");
  EXPECT_EQ(ToHex(TimeReplyText(LocalTime(2000, 1, 1, 0, 0, 0))), "00 01 01 00 00 00");
}

// Receive side, send thread and service wired as in the application; jobs run on a
// started send thread in virtual time.
class HandsetServiceTest : public test::ServiceRig {
 protected:
  HandsetServiceTest() : ServiceRig([this] { return now; }) {}
  void SetUp() override {
    service.AddHandset("003");
    service.AddHandset("012");
    service.ConnectLine(send, line);
  }
  void TearDown() override { send.TerminateAndJoin(); }
  std::vector<std::string> WrittenHex() const {
    std::vector<std::string> out;
    for (const auto& w : port.Writes()) out.push_back(ToHex(w.bytes));
    return out;
  }

  std::tm now = LocalTime(2026, 12, 7, 8, 5, 0);
};

TEST_F(HandsetServiceTest, TimeQueryIsAnsweredToTheLastHandsetWithContent) {
  send.Start();
  const std::string query = Hex("00 00 00 C1 02 07 FF 01 00") + "SJCX";
  test::Feed(rcv, query);  // nothing with content yet: handset 0
  ASSERT_TRUE(test::WaitIdle(send));
  test::Feed(rcv, test::FrameToPc("ABCD", 9, "009"));
  test::Feed(rcv, query);
  ASSERT_TRUE(test::WaitIdle(send));
  EXPECT_EQ(WrittenHex(),
            (std::vector<std::string>{"00 00 00 C1 02 0D 00 01 00 53 4A 43 58 1A 0C 07 08 05 00",
                                      "00 00 00 C1 02 0D 09 01 00 53 4A 43 58 1A 0C 07 08 05 00"}));
  EXPECT_EQ(line.replyRoute.load(), kDefaultRoute);
}

TEST_F(HandsetServiceTest, ShortMessageConfirmsToTheSenderThenGoesToTheTarget) {
  ASSERT_TRUE(WriteFileBytes(dir.Txt("dx.TXT"), "003 012 " + Utf8ToGbk("请到前台") + "\r\n"));
  // The file is gone by the time the message goes out: the target still gets the
  // text that the sender was told had been sent.
  test::LineHolder holder{send};
  send.Start();
  ASSERT_TRUE(holder.Hold());
  line.replyRoute = 0xC1;
  service.OnHostShortMessage(&send);
  std::filesystem::remove(dir.Txt("dx.TXT"));
  holder.Release();
  ASSERT_TRUE(test::WaitIdle(send));
  const auto writes = port.Writes();
  ASSERT_EQ(writes.size(), 3u);
  EXPECT_EQ(ToHex(writes[0].bytes),
            ToHex(Hex("00 00 00 C1 02 14 03 01 00") + "DX  " + Utf8ToGbk("短信发送成功!")));
  EXPECT_EQ(ToHex(writes[1].bytes), ToHex(Hex("00 00 00 C1 02 07 03 01 00") + "FHJS"));
  EXPECT_EQ(ToHex(writes[2].bytes),
            ToHex(Hex("00 00 00 C0 02 13 0C 01 00") + "DX  003 " + Utf8ToGbk("请到前台")));
  EXPECT_EQ(writes[1].atMs - writes[0].atMs, 150);
  EXPECT_TRUE(messages.Messages().empty());
}

TEST_F(HandsetServiceTest, ShortMessageToNoHandsetOfThisStationIsDropped) {
  send.Start();
  for (const std::string line : {"003 12  hello", "003 013 hello", "003 012"}) {
    ASSERT_TRUE(WriteFileBytes(dir.Txt("DX.txt"), line));
    service.OnHostShortMessage(&send);
  }
  ASSERT_TRUE(test::WaitIdle(send));
  // Only the last one names a handset of this station; its text is "003 ".
  const auto written = WrittenHex();
  ASSERT_EQ(written.size(), 3u);
  EXPECT_EQ(written[2], ToHex(Hex("00 00 00 C0 02 0B 0C 01 00") + "DX  003 "));
  EXPECT_TRUE(messages.Messages().empty());
}

TEST_F(HandsetServiceTest, MissingShortMessageFileIsShownAndNothingIsSent) {
  send.Start();
  service.OnHostShortMessage(&send);
  ASSERT_TRUE(test::WaitIdle(send));
  EXPECT_EQ(messages.Messages(), std::vector<std::string>{"没有生成短信文件，请检查！（在" +
                                                          dir.Path() + "/TXT中查找）"});
  EXPECT_TRUE(port.Writes().empty());
}

TEST_F(HandsetServiceTest, AShortMessageTooLongForOneMessageIsRefusedAndNoHandsetGetsAnything) {
  send.Start();
  testing::internal::CaptureStderr();
  // "003 " and 13,766 bytes: 255 packets of 54, the most a message can number.
  ASSERT_TRUE(WriteFileBytes(dir.Txt("DX.txt"), "003 012 " + std::string(13766, 'x') + "\r\n"));
  service.OnHostShortMessage(&send);
  ASSERT_TRUE(test::WaitIdle(send));
  EXPECT_EQ(port.Writes().size(), 2u + 255u);
  EXPECT_TRUE(messages.Messages().empty());

  // One byte more; then a text of 1 MiB, of which only the start is read.
  port.ClearWrites();
  ASSERT_TRUE(WriteFileBytes(dir.Txt("DX.txt"), "003 012 " + std::string(13767, 'x') + "\r\n"));
  service.OnHostShortMessage(&send);
  ASSERT_TRUE(WriteFileBytes(dir.Txt("DX.txt"), "003 012 " + std::string(1 << 20, 'x')));
  service.OnHostShortMessage(&send);
  ASSERT_TRUE(test::WaitIdle(send));
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(port.Writes().empty()) << "the sender was told of a message that never went";
  EXPECT_EQ(messages.Messages(),
            (std::vector<std::string>{
                "短信没有发出：DX.txt（13777字节）中的短信有13771字节，要分256包发送，"
                "而一条短信最多255包（约13770字节）。请缩短短信后重新发送。",
                "短信没有发出：DX.txt（1048584字节）的第一行超过16384字节，"
                "而一条短信最多255包（约13770字节）。请缩短短信后重新发送。"}));
  EXPECT_NE(log.find("DX.txt: the short message has 13771 bytes and needs 256 packets"),
            std::string::npos)
      << log;
}

TEST_F(HandsetServiceTest, TimeQueriesDuringALongJobEachGetTheirOwnTimeWithoutHoldingTheReceiver) {
  test::LineHolder holder(send);
  send.Start();
  ASSERT_TRUE(holder.Hold());
  const std::string query = Hex("00 00 00 C1 02 07 FF 01 00") + "SJCX";
  EXPECT_TRUE(holder.ReturnsWhileHeld([&] {
    test::Feed(rcv, query);
    now = LocalTime(2026, 12, 7, 8, 5, 1);
    test::Feed(rcv, query);
  }));
  holder.Release();
  ASSERT_TRUE(test::WaitIdle(send));
  EXPECT_EQ(WrittenHex(),
            (std::vector<std::string>{"00 00 00 C1 02 0D 00 01 00 53 4A 43 58 1A 0C 07 08 05 00",
                                      "00 00 00 C0 02 0D 00 01 00 53 4A 43 58 1A 0C 07 08 05 01"}));
}

TEST_F(HandsetServiceTest, ShortMessagesDuringALongJobQueueEachWithItsOwnText) {
  test::LineHolder holder(send);
  send.Start();
  ASSERT_TRUE(holder.Hold());
  EXPECT_TRUE(holder.ReturnsWhileHeld([&] {
    ASSERT_TRUE(WriteFileBytes(dir.Txt("DX.txt"), "003 012 first\r\n"));
    service.OnHostShortMessage(&send);
    ASSERT_TRUE(WriteFileBytes(dir.Txt("DX.txt"), "012 003 second\r\n"));
    service.OnHostShortMessage(&send);
  }));
  holder.Release();
  ASSERT_TRUE(test::WaitIdle(send));
  const auto written = WrittenHex();
  ASSERT_EQ(written.size(), 6u);  // per message: confirmation, FHJS, the message
  EXPECT_EQ(written[2], ToHex(Hex("00 00 00 C0 02 10 0C 01 00") + "DX  003 first"));
  EXPECT_EQ(written[5], ToHex(Hex("00 00 00 C0 02 11 03 01 00") + "DX  012 second"));
  EXPECT_TRUE(messages.Messages().empty());
}

TEST(RollCallButtonTest, RestartingThePollerNeverWaitsForAJobOnTheLine) {
  // A tick finds both workers idle and no hold-off while a job holds the line (the
  // window cleared the hold-offs during the job's pause); the roll-call button then
  // restarts the poller's timer.
  SystemClock clock;
  test::FakeSerialPort port;
  VirtualClock windowClock;
  test::ManualTimers timers{windowClock};
  test::RecordingHostLink host;
  test::RecordingMessages messages;
  RequestService service{TxtDir("/nonexistent"), host, messages, timers, nullptr, windowClock, {}};
  LineActivity line;
  LinkHandlers handlers{line};  // no frame arrives
  SendThread send{&port, clock};
  ReceiveThread rcv{nullptr, handlers, line, clock};
  HandsetPoller poller{send, rcv};
  poller.Add(1);
  test::LineHolder holder(send);
  send.Start();
  poller.Start(RollCallButton::kPollRate);
  ASSERT_TRUE(holder.Hold());
  send.HoldOff = 0;
  const std::size_t pollsBefore = port.Writes().size();
  std::this_thread::sleep_for(std::chrono::milliseconds(4 * 66));  // ticks pass their checks

  RollCallButton button(&poller);
  EXPECT_TRUE(holder.ReturnsWhileHeld([&] { button.Click(); }));
  EXPECT_EQ(button.Caption(), "暂停");
  EXPECT_EQ(port.Writes().size(), pollsBefore);  // no poll inside the job
  holder.Release();
  poller.Stop();
  send.TerminateAndJoin();
}

TEST(RollCallButtonTest, CaptionCyclesAndWorksThePoller) {
  SystemClock clock;  // the poller's timer thread runs on real time
  test::RecordingHostLink host;
  test::RecordingMessages messages;
  VirtualClock windowClock;
  test::ManualTimers timers{windowClock};
  RequestService service{TxtDir("/nonexistent"), host, messages, timers, nullptr, windowClock, {}};
  LineActivity line;
  LinkHandlers handlers{line};  // no frame arrives
  SendThread send{nullptr, clock};
  ReceiveThread rcv{nullptr, handlers, line, clock};
  HandsetPoller poller{send, rcv};

  RollCallButton button(&poller);
  EXPECT_EQ(button.Caption(), "开始点名");
  EXPECT_EQ(button.Click(), "暂停");
  EXPECT_TRUE(poller.Running());
  EXPECT_EQ(poller.Period(), 66);
  EXPECT_EQ(button.Click(), "点名");
  EXPECT_EQ(poller.Pauses(), 1);
  EXPECT_EQ(button.Click(), "暂停");
  EXPECT_EQ(poller.Pauses(), 0);
  EXPECT_EQ(button.Click(), "点名");
  EXPECT_EQ(poller.Pauses(), 1);

  RollCallButton absent(nullptr);
  EXPECT_EQ(absent.Click(), "开始点名");
}

}  // namespace
}  // namespace orderlink
