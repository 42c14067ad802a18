#include <gtest/gtest.h>

#include "basesim/BaseStation.h"
#include "basesim/Records.h"
#include "common/Gbk.h"
#include "support/FakeSerialPort.h"

namespace orderlink::basesim {
namespace {

using test::Hex;
using test::ToHex;

class RecordingLog final : public StationLog {
 public:
  void Info(const std::string&) override {}
  void Problem(const std::string& line) override { problems.push_back(line); }
  void Result(const std::string& line) override { results.push_back(line); }
  std::vector<std::string> problems;
  std::vector<std::string> results;
};

// A PC frame to the station, most of them with the PC's own route C0.
std::string PcFrame(std::uint8_t address, std::uint8_t sequence, bool more, std::string_view code,
                    std::string_view body, std::uint8_t route = 0xC0) {
  return test::LongFrame(route, address, sequence, more, code, body);
}

std::string Poll(std::uint8_t handset) {
  return Hex("00 00 00 C0 01") + static_cast<char>(handset);
}

std::string Record(std::uint8_t address, int number, const std::string& wireLine) {
  char digits[8];
  std::snprintf(digits, sizeof digits, "%05d", number);
  return PcFrame(address, 1, false, wireLine.substr(8, 4),
                 digits + wireLine.substr(0, 8) + wireLine.substr(12));
}

class BaseStationTest : public ::testing::Test {
 protected:
  void Start(StationOptions options) {
    options.wallClock = [] { return std::time(nullptr); };
    station_ = std::make_unique<BaseStation>(std::move(options), log_);
  }
  StationOptions Defaults() {
    StationOptions options;
    options.handsets = {1, 2};
    options.answerDelayMs = 20;
    options.thinkMs = 0;
    options.timeQueryRate = 0;
    return options;
  }
  // Feeds `bytes` at the current time, then lets 100 ms pass; returns what the station sent.
  std::vector<std::string> Exchange(const std::string& bytes, int afterMs = 100) {
    station_->OnBytes(bytes, now_);
    now_ += afterMs;
    station_->OnTick(now_);
    std::vector<std::string> sent;
    while (auto item = station_->TakeDue(now_)) {
      std::string joined;
      for (const auto& chunk : item->chunks) joined += chunk;
      sent.push_back(joined);
    }
    return sent;
  }
  std::string Summary() const {
    std::string all;
    for (const auto& line : station_->Summary()) all += line + "\n";
    return all;
  }

  RecordingLog log_;
  std::unique_ptr<BaseStation> station_;
  std::int64_t now_ = 10'000;
};

TEST_F(BaseStationTest, HandsetLogsInWaitsForFhjsAndThenAsksAgain) {
  Start(Defaults());
  const auto login = Exchange(Poll(1));
  ASSERT_EQ(login.size(), 1u);
  // 00 00 00 C0 02 L FF 01 00 "DL  " handset-byte "001" ...
  EXPECT_EQ(ToHex(login[0].substr(0, 13)), "00 00 00 C0 02 21 FF 01 00 44 4C 20 20");
  EXPECT_EQ(login[0].substr(13, 4), std::string("\x01", 1) + "001");
  EXPECT_TRUE(Exchange(Poll(1)).empty()) << "no second request before the reply";

  EXPECT_TRUE(Exchange(PcFrame(1, 1, false, "DL  ", Utf8ToGbk("登录成功")), 200).empty());
  EXPECT_TRUE(Exchange(PcFrame(1, 1, false, "FHJS", "")).empty());
  const auto next = Exchange(Poll(1));
  ASSERT_FALSE(next.empty());
  EXPECT_NE(next[0].substr(9, 4), "DL  ");
  EXPECT_TRUE(log_.problems.empty()) << log_.problems.front();
  EXPECT_NE(Summary().find("summary: requests=2 answered=1 lost=0 pending=1 replies=1 fhjs=1 "),
            std::string::npos)
      << Summary();
}

TEST_F(BaseStationTest, LongRequestsGoOutInPacketsOfMaxBody) {
  StationOptions options = Defaults();
  options.maxBody = 10;
  Start(options);
  const auto login = Exchange(Poll(2));  // 1 handset byte + 25 payload bytes = 26: 10 + 10 + 6
  ASSERT_EQ(login.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(static_cast<unsigned char>(login[i][7]), i + 1) << "sequence";
    EXPECT_EQ(login[i][8], i < 2 ? 1 : 0) << "more";
    EXPECT_EQ(static_cast<unsigned char>(login[i][5]), (i < 2 ? 10 : 6) + 7) << "length";
  }
  EXPECT_EQ(login[0][13], '\x02') << "the first body begins with the handset's number";
}

TEST_F(BaseStationTest, ReportsWhatThePcGetsWrongAboutReplies) {
  StationOptions options = Defaults();
  options.replyTimeoutMs = 1000;
  Start(options);
  Exchange(PcFrame(2, 1, false, "DL  ", "x"));  // nobody asked
  Exchange(PcFrame(2, 1, false, "FHJS", ""));
  Exchange(Poll(1));
  // 54 ASCII bytes fit one packet: cutting them 53 + 1 is wrong.
  Exchange(PcFrame(1, 1, true, "DL  ", std::string(53, 'a')), 160);
  Exchange(PcFrame(1, 2, false, "DL  ", "a"));
  // A packet that does not follow its message.
  Exchange(PcFrame(1, 3, false, "DL  ", "b"));
  // Second packet 10 ms after the first: the PC must pause 150 ms.
  Exchange(PcFrame(1, 1, true, "DL  ", std::string(54, 'c')), 10);
  Exchange(PcFrame(1, 2, false, "DL  ", "c"));
  const std::string summary = Summary();
  EXPECT_NE(summary.find("unexpected_replies=1 unexpected_fhjs=1"), std::string::npos) << summary;
  EXPECT_NE(summary.find("rejects=2 route_errors=0 timing_warnings=1"), std::string::npos)
      << summary;
  // No FHJS within the time-out: the request is lost and the next poll brings a new one.
  now_ += 1000;
  EXPECT_FALSE(Exchange(Poll(1)).empty());
  EXPECT_NE(Summary().find("lost=1"), std::string::npos);
  EXPECT_EQ(station_->Problems(), static_cast<int>(log_.problems.size()));
}

TEST_F(BaseStationTest, ChecksTheRouteByteOfAnswersAndOwnFrames) {
  StationOptions options = Defaults();
  options.route = 0xC1;
  Start(options);
  const auto login = Exchange(Poll(1));
  ASSERT_EQ(static_cast<unsigned char>(login.at(0)[3]), 0xC1);
  Exchange(PcFrame(1, 1, false, "DL  ", "ok", 0xC1));
  Exchange(PcFrame(1, 1, false, "FHJS", "", 0xC1));
  EXPECT_TRUE(log_.problems.empty());
  Exchange(PcFrame(2, 1, false, "TXCS", std::string(53, 'Z'), 0xC1));  // own frames carry C0
  Exchange(Poll(1));
  Exchange(PcFrame(1, 1, false, "FHJS", "", 0xC0));  // the answer must carry C1
  EXPECT_NE(Summary().find("route_errors=2"), std::string::npos) << Summary();
}

TEST_F(BaseStationTest, EchoesLinkTestFramesAndFlagsABadPattern) {
  Start(Defaults());
  const auto echo = Exchange(PcFrame(2, 1, false, "TXCS", std::string(53, 'Z')));
  ASSERT_EQ(echo.size(), 1u);
  EXPECT_EQ(echo[0], Hex("00 00 00 C0 02 3D FF 01 00") + "TXCS" + "\x02" + std::string(53, 'Z'));
  Exchange(PcFrame(2, 1, false, "TXCS", std::string(52, 'Z')));
  EXPECT_NE(Summary().find("linktest: frames=2 echoed=2 corrupted=0 dropped=0 bad_pattern=1"),
            std::string::npos);

  StationOptions lossy = Defaults();
  lossy.echoLoss = 1.0;
  Start(lossy);
  EXPECT_TRUE(Exchange(PcFrame(1, 1, false, "TXCS", std::string(53, 'Z'))).empty());
}

TEST_F(BaseStationTest, DownloadWithLostRecordsIsCompletedByAResend) {
  const std::vector<std::string> job = {"00020001CLB 01ColdDishes", "00020002CLB 02HotDishes ",
                                        "00010001KYQB001" + std::string(20, 'r')};
  StationOptions options = Defaults();
  options.handsets = {1, 2, 3};
  options.downloadHandsets = {1, 2};
  options.failHandsets = {2};
  options.recordLoss = 1.0;  // handset 1 misses every broadcast record
  options.loadJobFile = [&] { return std::optional(job); };
  Start(options);
  for (int i = 0; i < 10; ++i) Exchange(PcFrame(0, 1, false, "QBKS", "0000302CLB KYQB"), 30);
  Exchange(Record(0, 1, WireForm(job[0])), 150);
  Exchange(Record(0, 2, WireForm(job[1])), 150);
  Exchange(Record(0, 3, WireForm(job[2])), 150);
  EXPECT_TRUE(log_.problems.empty()) << log_.problems.front();

  auto answer = Exchange(PcFrame(1, 1, false, "XZDM", ""));
  ASSERT_EQ(answer.size(), 1u);
  EXPECT_EQ(answer[0].substr(9), std::string("XZCC\x01", 5) + std::string("00000\x03", 6));
  EXPECT_EQ(Exchange(PcFrame(2, 1, false, "XZDM", "")).at(0).substr(9, 5), "XZSB\x02");
  EXPECT_TRUE(Exchange(PcFrame(3, 1, false, "XZDM", "")).empty()) << "handset 3 takes no part";

  Exchange(PcFrame(1, 1, false, "CCKS", ""), 100);
  Exchange(Record(1, 1, WireForm(job[0])), 150);
  Exchange(Record(1, 2, WireForm(job[1])), 150);
  Exchange(Record(1, 3, WireForm(job[2])), 150);
  Exchange(PcFrame(1, 1, false, "CCJS", ""));
  EXPECT_EQ(Exchange(PcFrame(1, 1, false, "XZDM", "")).at(0).substr(9, 5), "XZWC\x01");
  for (int i = 0; i < 10; ++i) Exchange(PcFrame(0, 1, false, "QBJS", ""), 30);
  EXPECT_TRUE(log_.problems.empty()) << log_.problems.front();
  const std::string summary = Summary();
  EXPECT_NE(summary.find("download: records=3 tables=2 qbks=10 qbjs=10 broadcast=3"),
            std::string::npos)
      << summary;
  EXPECT_NE(summary.find(
                "download: handset=001 outcome=complete records=3/3 lost_on_air=3 bad=0 resent=3"),
            std::string::npos)
      << summary;
  EXPECT_NE(summary.find("download: handset=002 outcome=failed"), std::string::npos) << summary;
}

TEST_F(BaseStationTest, RecordsThatDifferFromTheJobFileStayMissing) {
  const std::vector<std::string> job = {"00010001KYQB001" + std::string(20, 'r')};
  StationOptions options = Defaults();
  options.loadJobFile = [&] { return std::optional(job); };
  Start(options);
  Exchange(PcFrame(0, 1, false, "QBKS", "0000101KYQB"));
  Exchange(Record(0, 1, job[0]));  // sent without the blank of the wire form
  EXPECT_EQ(log_.problems.size(), 1u);
  EXPECT_EQ(Exchange(PcFrame(1, 1, false, "XZDM", "")).at(0).substr(9, 4), "XZCC");
  Exchange(Record(2, 1, WireForm(job[0])));  // to a handset outside CCKS/CCJS
  EXPECT_NE(Summary().find("rejects=1"), std::string::npos) << Summary();
}

TEST_F(BaseStationTest, AnswersTheConfigurationRequestOnlyWithItsSwitchSet) {
  Start(Defaults());
  EXPECT_TRUE(Exchange(Hex("FF 23 DC 55 AA")).empty());

  StationOptions options = Defaults();
  options.configSwitch = true;
  Start(options);
  EXPECT_EQ(ToHex(Exchange(Hex("FF 23 DC 55 AA")).at(0)), "FF AA 55 32 CD");
  Exchange(Hex("08 A0 B5 05 FF 03 01 02 03"));
  ASSERT_EQ(log_.results.size(), 1u);
  EXPECT_EQ(log_.results[0],
            "settings: kind=voice role=slave channel=2 address=5 handsets=001,002,003 bytes=08 A0 "
            "B5 05 FF 03 01 02 03");
  EXPECT_EQ(ToHex(Exchange(Hex("FF 23 DC 55 AA")).at(0)), "FF AA 55 32 CD");
  Exchange(Hex("03 50 8E CF"));
  EXPECT_EQ(log_.results.at(1), "settings: kind=data channel=7 station=15 bytes=03 50 8E CF");
  EXPECT_TRUE(log_.problems.empty());
}

TEST_F(BaseStationTest, SpoiledRequestIsSentAgainAtTheNextPoll) {
  StationOptions options = Defaults();
  options.faults = {Fault::Sequence};
  options.faultRate = 1.0;
  Start(options);
  const auto spoiled = Exchange(Poll(1));
  ASSERT_EQ(spoiled.size(), 1u);
  EXPECT_EQ(spoiled[0][7], 2) << "first packet carries sequence 2";
  const auto again = Exchange(Poll(1));
  ASSERT_EQ(again.size(), 1u);
  EXPECT_EQ(again[0].substr(9), spoiled[0].substr(9)) << "the same request once more";

  options.faults = {Fault::Garbage, Fault::Crc};
  Start(options);
  const auto withNoise = Exchange(Poll(1));
  ASSERT_EQ(withNoise.size(), 2u);
  EXPECT_EQ(withNoise[1].substr(9, 4), "DL  ");
  const bool crc = withNoise[0].size() > 13 && withNoise[0].substr(9, 3) == "CRC";
  const bool garbage = withNoise[0].find('\0') == std::string::npos;
  EXPECT_TRUE(crc || garbage) << ToHex(withNoise[0]);
}

}  // namespace
}  // namespace orderlink::basesim
