#include <gtest/gtest.h>

#include "ServiceFakes.h"
#include "common/Clock.h"
#include "common/TextFile.h"
#include "service/RequestDispatch.h"
#include "support/LogCapture.h"

namespace orderlink {
namespace {

using namespace std::string_literals;

class DispatchTest : public test::ServiceRig {
 protected:
  std::optional<std::string> Record() { return dir.Read("T1.txt"); }
};

TEST_F(DispatchTest, LoginWritesRecordMarksHandsetNotifiesAndHoldsPollingOff) {
  test::Feed(rcv, test::FrameToPc("DL  ", 7,
                                  "007"
                                  "1001      "
                                  "8888"
                                  "20260107"));
  EXPECT_EQ(Record(), "DL   007\r\n1001       8888 20260107\r\n");
  EXPECT_EQ(marker.marked, std::vector<std::string>{"007"});
  EXPECT_EQ(host.codes, std::vector<int>{NotifyRequest});
  EXPECT_EQ(rcv.HoldOff.load(), 15000);
}

TEST_F(DispatchTest, CodesOutsideTheTableWriteAndPostNothing) {
  for (const std::string& code : {"ABCD"s, "DC\0\0"s, "dc  "s, "DC  "s.substr(0, 3) + '\0'}) {
    SCOPED_TRACE(test::ToHex(code));
    test::Feed(rcv, test::FrameToPc(code, 7, "0120000123"));
    EXPECT_EQ(rcv.HoldOff.load(), 1000);
  }
  EXPECT_FALSE(Record().has_value());
  EXPECT_TRUE(host.codes.empty());
}

TEST_F(DispatchTest, SecondRequestReplacesTheFirstAndEachIsNotified) {
  test::Feed(rcv, test::FrameToPc("KT  ", 12,
                                  "012A01204"
                                  "00001"));
  test::Feed(rcv, test::FrameToPc("CT  ", 12, "0120000123"));
  EXPECT_EQ(Record(), "CT   012\r\n0000123\r\n");
  EXPECT_EQ(host.codes, (std::vector<int>{NotifyRequest, NotifyRequest}));
  EXPECT_TRUE(marker.marked.empty());
}

TEST_F(DispatchTest, ShortPayloadNeverPicksUpBytesOfAnEarlierMessage) {
  test::Feed(rcv, test::FrameToPc("CLCC", 12, "012000012320260107"));
  test::Feed(rcv, test::FrameToPc("CLCC", 12, "0120000124"));
  EXPECT_EQ(Record(), "CLCC 012\r\n0000124         \r\n");
}

TEST_F(DispatchTest, UnwritableRecordLosesTheRequestButReceivingGoesOn) {
  // A directory where the record file belongs cannot be replaced by a file.
  std::filesystem::create_directory(dir.Txt("T1.txt"));
  test::Feed(rcv, test::FrameToPc("DL  ", 7,
                                  "007"
                                  "1001      "
                                  "8888"
                                  "20260107"));
  EXPECT_TRUE(host.codes.empty());
  EXPECT_TRUE(marker.marked.empty());
  EXPECT_LT(rcv.HoldOff.load(), 15000);

  std::filesystem::remove(dir.Txt("T1.txt"));
  test::Feed(rcv, test::FrameToPc("CT  ", 12, "0120000123"));
  EXPECT_EQ(Record(), "CT   012\r\n0000123\r\n");
  EXPECT_EQ(host.codes, std::vector<int>{NotifyRequest});
}

TEST_F(DispatchTest, VerboseLinesNameEachRequestAndReplyWithTheTimeToTheAnswer) {
  test::LogCapture log;
  test::Feed(rcv, test::FrameToPc("CT  ", 12, "0120000122"));
  EXPECT_TRUE(log.Containing("request \"CT  \"").empty());  // verbose logging is off

  SetVerboseLog(true);
  test::Feed(rcv, test::FrameToPc("CT  ", 12, "0120000123"));
  clock.Advance(230);
  ASSERT_TRUE(WriteFileBytes(dir.Txt("R1.txt"), "CT   012\r\nOK\r\n"));
  service.OnHostReply(nullptr, nullptr);
  service.OnHostReply(nullptr, nullptr);
  SetVerboseLog(false);

  EXPECT_EQ(
      log.Containing(" debug request \"CT  \" of handset 012: 10 bytes, written to T1.txt").size(),
      1u);
  EXPECT_EQ(log.Containing(" debug reply notice: R1.txt of 14 bytes, \"CT  \" for handset 12; "
                           "answers the \"CT  \" request of handset 012 after 230 ms")
                .size(),
            1u);
  EXPECT_EQ(log.Containing("no request was waiting for an answer").size(), 1u);
  // Answered in time: no warning, no notice, even when the wait has long passed.
  timers.RunAll();
  EXPECT_TRUE(log.Containing("did not answer").empty());
  EXPECT_TRUE(messages.Notices().empty());
}

TEST_F(DispatchTest, TheRadiosCopyOfTheAwaitedRequestIsNotPassedOnButARetryLaterIs) {
  test::LogCapture log;
  const std::string order = test::FrameToPc("DC  ", 12, "012A0121" + std::string(40, '1'));
  test::Feed(rcv, order);
  clock.Advance(40);
  test::Feed(rcv, order);  // the same message again, at once
  EXPECT_EQ(host.codes, std::vector<int>{NotifyRequest});
  EXPECT_EQ(log.Containing("handset 012 sent its \"DC  \" request twice at once").size(), 1u);
  // Another request in between, or the same one a second later (a handset's retry
  // after its time-out), goes on as always.
  test::Feed(rcv, test::FrameToPc("DC  ", 12, "012A0122" + std::string(40, '1')));
  service.OnHostReply(nullptr, nullptr);
  test::Feed(rcv, order);
  clock.Advance(kCopyWindowMs + 1);
  test::Feed(rcv, order);
  EXPECT_EQ(host.codes, std::vector<int>(4, NotifyRequest));
}

TEST_F(DispatchTest, UnansweredRequestsAreEachLoggedAndASilenceIsShownOnceAsIsItsEnd) {
  test::LogCapture log;
  test::Feed(rcv, test::FrameToPc("CT  ", 12, "0120000123"));
  timers.RunFor(kAwaitReplyHoldOffMs - 1);
  EXPECT_TRUE(messages.Notices().empty());
  timers.RunFor(1);
  test::Feed(rcv, test::FrameToPc("KT  ", 3, "003A00304"));
  timers.RunAll();
  EXPECT_EQ(log.Containing(" warning the ordering software did not answer").size(), 2u);
  EXPECT_EQ(log.Containing("the \"KT  \" request of handset 003 within 15 s").size(), 1u);
  EXPECT_EQ(messages.Notices(), std::vector<std::string>{HostSilentNotice("012")});

  service.OnHostReply(nullptr, nullptr);
  service.OnHostReply(nullptr, nullptr);
  EXPECT_EQ(messages.Notices(),
            (std::vector<std::string>{HostSilentNotice("012"), std::string(kHostAnswersAgain)}));
  EXPECT_TRUE(messages.Messages().empty());
}

}  // namespace
}  // namespace orderlink
