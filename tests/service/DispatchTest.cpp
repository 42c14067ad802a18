#include <gtest/gtest.h>

#include "ServiceFakes.h"
#include "common/Clock.h"
#include "service/RequestDispatch.h"

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

}  // namespace
}  // namespace orderlink
