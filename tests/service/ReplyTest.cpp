#include "service/ReplyDelivery.h"

#include <gtest/gtest.h>

#include "ServiceFakes.h"
#include "common/Clock.h"
#include "common/TextFile.h"
#include "link/LinkState.h"
#include "link/TComCtr.h"

namespace orderlink {
namespace {

using test::Hex;
using test::ToHex;

class ReplyTest : public ::testing::Test {
 protected:
  void SetUp() override { RouteByte = 0xC1; }  // as left by the handset's request
  void TearDown() override { RouteByte = kDefaultRoute; }

  void WriteReply(const std::string& name, const std::string& content) {
    ASSERT_TRUE(WriteFileBytes(dir.Txt(name), content));
  }
  // Runs job 1 as the send thread would; returns the writes as (ms after start, hex).
  std::vector<std::pair<std::int64_t, std::string>> RunReply() {
    const std::int64_t start = clock.NowMs();
    send.RunJob(JobReplyCode, 0);
    std::vector<std::pair<std::int64_t, std::string>> out;
    for (const auto& w : port.Writes()) out.emplace_back(w.atMs - start, ToHex(w.bytes));
    return out;
  }

  test::TempAppDir dir;
  test::RecordingHostLink host;
  test::RecordingMessages messages;
  VirtualClock clock;
  test::FakeSerialPort port{&clock};
  RequestService service{TxtDir(dir.Path()), host, messages, nullptr};
  TSendThread send{&port, clock};
};

using Writes = std::vector<std::pair<std::int64_t, std::string>>;

TEST_F(ReplyTest, NonEmptyLinesGoOutUnderTheHeaderCode150MsApartThenEnd) {
  service.RegisterJobs(send);
  WriteReply("R1.txt", "KT   012\r\nOK\r\n\r\nTable A012\r\n");
  EXPECT_EQ(RunReply(), (Writes{
                            {100, ToHex(Hex("00 00 00 C1 02 09 0C 01 00") + "KT  OK")},
                            {250, ToHex(Hex("00 00 00 C1 02 11 0C 01 00") + "KT  Table A012")},
                            {400, ToHex(Hex("00 00 00 C1 02 07 0C 01 00") + "FHJS")},
                        }));
  EXPECT_EQ(RouteByte.load(), kDefaultRoute);
  EXPECT_EQ(send.HoldOff.load(), 100);
}

TEST_F(ReplyTest, HeaderOnlySendsOnlyTheEndMessage) {
  service.RegisterJobs(send);
  WriteReply("r1.TXT", "DX   300\n");  // any spelling; 300 is handset 44 on the line
  EXPECT_EQ(RunReply(), (Writes{{100, ToHex(Hex("00 00 00 C1 02 07 2C 01 00") + "FHJS")}}));
}

TEST_F(ReplyTest, LongLineIsCutIntoPacketsOfOneMessage) {
  service.RegisterJobs(send);
  WriteReply("R1.txt", "DX     5\r\n" + std::string(120, 'a') + "\r\n");
  const std::string head = "00 00 00 C1 02 ";
  EXPECT_EQ(RunReply(), (Writes{
      {100, ToHex(Hex(head + "3D 05 01 01") + "DX  " + std::string(54, 'a'))},
      {250, ToHex(Hex(head + "3D 05 02 01") + "DX  " + std::string(54, 'a'))},
      {400, ToHex(Hex(head + "13 05 03 00") + "DX  " + std::string(12, 'a'))},
      {550, ToHex(Hex(head + "07 05 01 00") + "FHJS")},
  }));
}

TEST_F(ReplyTest, RollCallHeaderSendsRollCallFramesOnly) {
  service.RegisterJobs(send);
  WriteReply("R1.txt", "DM   009\r\n0123456789\r\n");
  EXPECT_EQ(RunReply(), (Writes{{100, "00 00 00 01 09"},
                                {250, ToHex(Hex("00 00 00 C1 02 07 09 01 00") + "FHJS")}}));
}

TEST_F(ReplyTest, MissingFileOrUnreadableHeaderSendsNothingAndTheThreadGoesOn) {
  service.RegisterJobs(send);
  EXPECT_TRUE(RunReply().empty());
  for (const std::string header : {"KT   0x2", "KT   1 2", "KT   ", "KT", ""}) {
    SCOPED_TRACE(header);
    WriteReply("R1.txt", header + "\r\nOK\r\n");
    EXPECT_TRUE(RunReply().empty());
  }
  WriteReply("R1.txt", "KT    7 \r\nOK\r\n");  // blanks around the digits are fine
  EXPECT_EQ(RunReply().size(), 2u);
}

TEST_F(ReplyTest, HostReplyPostsTheJobAndClearsBothHoldOffs) {
  service.RegisterJobs(send);
  WriteReply("R1.txt", "KT   012\r\nOK\r\n");
  test::ServiceHandlers handlers{service};
  TRcvThread rcv{nullptr, handlers, clock};
  TComCtr poller{send, rcv};
  send.Start();
  rcv.HoldOff = 15000;
  send.HoldOff = 15000;
  service.OnHostReply(&send, &poller);
  ASSERT_TRUE(test::WaitIdle(send));
  EXPECT_EQ(rcv.HoldOff.load(), 0);
  EXPECT_EQ(port.Writes().size(), 2u);
  EXPECT_EQ(port.Writes().back().bytes, Hex("00 00 00 C1 02 07 0C 01 00") + "FHJS");

  // Without a send thread the hold-offs are still cleared.
  rcv.HoldOff = 15000;
  service.OnHostReply(nullptr, &poller);
  EXPECT_EQ(rcv.HoldOff.load(), 0);
  send.TerminateAndJoin();
}

}  // namespace
}  // namespace orderlink
