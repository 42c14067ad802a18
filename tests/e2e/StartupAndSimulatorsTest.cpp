// The three programs together: orderlink started by the ordering-software
// simulator on the base-station simulator's pty; and starts that fail, each with its
// message, ending the program by itself.

#include <gtest/gtest.h>

#include <csignal>
#include <ostream>

#include "common/TextFile.h"
#include "e2e/E2eSupport.h"

namespace orderlink::e2e {
namespace {

struct FailedStart {
  const char* name;
  bool baseStationFile;
  bool handsetFile;
  const char* parameter;  // "" for none; "HOST" for the test's UDP port
  bool portOpens;
  const char* message;
};

void PrintTo(const FailedStart& start, std::ostream* out) { *out << start.name; }

class E2eFailedStart : public ::testing::TestWithParam<FailedStart> {};

TEST_P(E2eFailedStart, ShowsItsMessageAndEndsByItself) {
  const FailedStart& start = GetParam();
  test::TempAppDir dir;
  if (start.baseStationFile) dir.WriteGbk("基站.txt", "1 COM1\r\n");
  if (start.handsetFile) dir.WriteGbk("点菜机.txt", "001 1\r\n002 1\r\n");
  test::PtyPair line;
  test::UdpPeer host;
  std::vector<std::string> argv = {Bin("orderlink")};
  const std::string parameter = start.parameter;
  if (parameter == "HOST") {
    argv.push_back(std::to_string(host.Port()));
  } else if (!parameter.empty()) {
    argv.push_back(parameter);
  }
  test::ChildProcess program(
      argv,
      ProgramEnv(dir.Path(), start.portOpens ? line.SlavePath() : dir.Path() + "/no-such-tty"));

  const auto status = program.Wait(20000);
  ASSERT_TRUE(status) << "the program did not end by itself";
  EXPECT_EQ(*status, 1) << "a failed start ends with status 1";
  const std::string errors = program.Stderr();
  EXPECT_NE(errors.find(std::string("message: ") + start.message), std::string::npos) << errors;
  // One message, nothing after the first fatal condition.
  EXPECT_EQ(errors.find("message: ", errors.find("message: ") + 1), std::string::npos) << errors;
  if (parameter == "HOST") {
    // The ordering software heard of the program, then of its end.
    const auto hello = host.Receive(2000);
    ASSERT_TRUE(hello);
    EXPECT_EQ(hello->message, 1280u);
    EXPECT_EQ(hello->lParam, hello->fromPort);
    const auto goodbye = host.Receive(2000);
    ASSERT_TRUE(goodbye);
    EXPECT_EQ(goodbye->message, 16u);
    EXPECT_EQ(goodbye->lParam, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Program, E2eFailedStart,
    ::testing::Values(
        FailedStart{"NoParameter", true, true, "", true, "没有参数\n"},
        FailedStart{"BadParameter", true, true, "12ab", true, "参数“12ab”"},
        FailedStart{"NoBaseStationFile", false, true, "HOST", true, "基站.txt文件不存在！（在"},
        FailedStart{"NoHandsetFile", true, false, "HOST", true, "点菜机.txt文件不存在！（在"},
        FailedStart{"PortDoesNotOpen", true, true, "HOST", false,
                    "com1 not opend or thread not created. "}),
    [](const auto& info) { return std::string(info.param.name); });

// A short shift of the whole installation: three handsets asking, the ordering
// software answering and sending short messages, then closing the program.
TEST(E2eSimulators, ShiftWithThreeHandsetsEndsCleanlyWithNothingLost) {
  test::TempAppDir dir;
  dir.WriteGbk("基站.txt", "1 COM1\r\n");
  dir.WriteGbk("点菜机.txt", "001 1\r\n002 1\r\n003 1\r\n");
  test::ChildProcess station({Bin("orderlink-basesim"), "--pty", "--handsets", "1-3", "--think-ms",
                              "300", "--time-query-rate", "0.3", "--seconds", "60"},
                             {});
  const std::string device = Announced(station, "PTY ");
  ASSERT_FALSE(device.empty()) << station.Stderr();
  test::ChildProcess ordering(
      {Bin("orderlink-hostsim"), "--appdir", dir.Path(), "--reply-delay-ms", "20",
       "--short-message-every", "2", "--seconds", "8"},
      {"ORDERLINK_COM1=" + device, "QT_QPA_PLATFORM=offscreen", "ORDERLINK_NONINTERACTIVE=1"});

  const auto hostLines = RestOfOutput(ordering, 60000);
  EXPECT_EQ(ordering.Wait(20000), 0) << ordering.Stderr();
  const std::string hostSummary = LineStarting(hostLines, "summary:");
  ASSERT_FALSE(hostSummary.empty()) << ordering.Stderr();
  EXPECT_EQ(Field(hostSummary, "wm_close"), 1) << hostSummary;
  EXPECT_EQ(Field(hostSummary, "child_status"), 0) << hostSummary;
  EXPECT_EQ(Field(hostSummary, "problems"), 0) << hostSummary;
  EXPECT_GE(Field(hostSummary, "short_messages"), 1) << hostSummary;

  // The program closed the line; the station sums up.
  const auto stationLines = RestOfOutput(station, 30000);
  EXPECT_EQ(station.Wait(20000), 0) << station.Stderr();
  EXPECT_EQ(LineStarting(stationLines, "end:"), "end: reason=hang-up");
  const std::string summary = LineStarting(stationLines, "summary:");
  ASSERT_FALSE(summary.empty()) << station.Stderr();
  EXPECT_EQ(Field(summary, "lost"), 0) << summary;
  EXPECT_EQ(Field(summary, "problems"), 0) << station.Stderr();
  // Every reply reached its handset, except perhaps one cut off by the closing.
  EXPECT_GE(Field(summary, "answered"), 1) << summary;
  const long unanswered = Field(hostSummary, "replies") - Field(summary, "answered");
  EXPECT_TRUE(unanswered == 0 || unanswered == 1) << hostSummary << "\n" << summary;
  // Each short message went to its target after the sender's confirmation.
  const long messages = Field(summary, "short_messages");
  EXPECT_GE(messages, 1) << summary;
  const long undelivered = Field(hostSummary, "short_messages") - messages;
  EXPECT_TRUE(undelivered == 0 || undelivered == 1) << hostSummary << "\n" << summary;
  const long unconfirmed = Field(summary, "short_message_acks") - messages;
  EXPECT_TRUE(unconfirmed == 0 || unconfirmed == 1) << summary;
  // Time answers carry the local time. (A header-only query names no handset: the
  // answer goes to the handset that last sent a frame with content, so in a busy
  // installation it may reach another handset than the one that asked.)
  EXPECT_EQ(Field(summary, "time_bad"), 0) << summary;
}

}  // namespace
}  // namespace orderlink::e2e
