// orderlink as a process, with message boxes switched on, between a base station
// played by the test on a pty and an ordering software played by the test on UDP,
// when the ordering software misbehaves: a flood of reply notices, a T1.txt that
// cannot be written, and an ordering software that stops answering.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "common/TextFile.h"
#include "e2e/E2eSupport.h"

namespace orderlink::e2e {
namespace {

constexpr std::uint32_t kHostNotify = 1280;
constexpr std::uint8_t kHandset = 12;
const std::string kAnswerMissing =
    "message: 点菜软件没有应答点菜机012的请求，请检查点菜软件是否在运行。";
const std::string kAnswersAgain = "message: 点菜软件已恢复应答。";

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// Resident memory of the process in KiB (VmRSS), 0 when unknown.
long ResidentKib(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") {
      long kib = 0;
      status >> kib;
      return kib;
    }
  }
  return 0;
}

class HostNotices : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(Bin("orderlink")))
      GTEST_SKIP() << "build the orderlink target first";
    dir.WriteGbk("基站.txt", "1 COM1\r\n");
    dir.WriteGbk("点菜机.txt", "012 1\r\n");
    program.emplace(std::vector<std::string>{Bin("orderlink"), std::to_string(host.Port())},
                    std::vector<std::string>{
                        "ORDERLINK_APPDIR=" + dir.Path(), "ORDERLINK_COM1=" + station.SlavePath(),
                        "QT_QPA_PLATFORM=offscreen", "ORDERLINK_NONINTERACTIVE=0"});
    const auto hello = host.Receive(20000);
    ASSERT_TRUE(hello) << program->Stderr();
    programPort = hello->fromPort;
  }

  void Post(std::int32_t code) { host.Send(programPort, kHostNotify, 0, code); }

  // A "CT  " request of handset 012, answered to the PC's next poll of it.
  void Request(const char* table = "A003") {
    const auto poll = station.WaitFor(
        station.Count(), [](const PcFrame& f) { return IsPoll(f) && f.address == kHandset; },
        20000);
    ASSERT_TRUE(poll) << "handset 12 was not polled: " << program->Stderr();
    station.Send(HandsetMessage(0xC1, kHandset, "CT  ", "012" + std::string(table) + "   "));
  }

  std::size_t EndOfReplyFrames() const {
    std::size_t n = 0;
    for (const auto& seen : station.Frames()) n += seen.frame.code == "FHJS";
    return n;
  }
  std::size_t Messages() const { return Count(program->Stderr(), " message: "); }

  test::TempAppDir dir;
  FakeStation station;
  test::UdpPeer host;
  std::optional<test::ChildProcess> program;
  std::uint16_t programPort = 0;
};

TEST_F(HostNotices, AFloodOfReplyNoticesSendsTheReplyOnceAndOpensNoBox) {
  dir.WriteLines("R1.txt", {"KT   012", "OK"});
  ASSERT_TRUE(station.WaitFor(0, IsPoll, 20000)) << program->Stderr();
  const long before = ResidentKib(program->Pid());

  const auto start = std::chrono::steady_clock::now();
  // A thousand in about a second, so that the socket's buffer takes every one.
  for (int i = 0; i < 1000; ++i) {
    Post(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const auto sent = std::chrono::steady_clock::now() - start;
  // Every delivery has ended once the line is polled again after the last one.
  std::this_thread::sleep_for(std::chrono::milliseconds(2000));
  EXPECT_TRUE(station.WaitFor(station.Count(), IsPoll, 5000));

  // One delivery runs while the notices come; each later one takes in every notice
  // that came while it waited: one per 250 ms reply while they come (sending took
  // `sent`), with room for a slow reader. Unmerged, the queue took 64 and a box
  // opened for each refused notice.
  const auto deliveriesAllowed =
      3 + std::chrono::duration_cast<std::chrono::milliseconds>(sent).count() / 250;
  EXPECT_GE(EndOfReplyFrames(), 1u);
  EXPECT_LE(EndOfReplyFrames(), static_cast<std::size_t>(deliveriesAllowed));
  EXPECT_LE(Messages(), 1u) << program->Stderr();
  EXPECT_NE(program->Stderr().find("further reply notices came while the reply waited"),
            std::string::npos);
  const long after = ResidentKib(program->Pid());

  const auto stopAsked = std::chrono::steady_clock::now();
  program->Signal(SIGTERM);
  EXPECT_EQ(program->Wait(5000), 0) << program->Stderr();
  const auto stopped = std::chrono::steady_clock::now() - stopAsked;
  // Measured figures, not asserted: a loaded machine says nothing about the program.
  std::cout << "1000 notices: resident " << before << " KiB before, " << after
            << " KiB after; SIGTERM to exit "
            << std::chrono::duration_cast<std::chrono::milliseconds>(stopped).count()
            << " ms; deliveries " << EndOfReplyFrames() << "\n";
  for (const auto& line : SplitLines(program->Stderr())) {
    if (line.find("further reply notices") != std::string::npos) std::cout << line << "\n";
  }
}

TEST_F(HostNotices, AnUnwritableT1IsShownOnceACauseAndTheHostHearsOfNoLostRequest) {
  const std::string lost =
      "message: T1.txt无法写入（同名的文件夹占了它的位置），点菜机012的请求没有交给点菜软件。";
  std::filesystem::create_directory(dir.Txt("T1.txt"));
  Request();
  ASSERT_TRUE(WaitForStderr(*program, lost, 10000)) << program->Stderr();
  EXPECT_NE(program->Stderr().find("请检查文件夹" + dir.Path() + "/TXT，然后让点菜机重新发送。"),
            std::string::npos)
      << program->Stderr();
  Request();  // the same cause again: logged, not shown again
  ASSERT_TRUE(WaitForStderr(*program, "request of handset 012 is lost", 10000));
  for (int i = 0; i < 100 && Count(program->Stderr(), "request of handset 012 is lost") < 2; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(Count(program->Stderr(), "request of handset 012 is lost"), 2u);
  EXPECT_FALSE(host.Receive(500)) << "the ordering software was told of a lost request";
  EXPECT_EQ(Count(program->Stderr(), lost), 1u);

  // Repaired: the next request is written and announced.
  std::filesystem::remove(dir.Txt("T1.txt"));
  Request();
  const auto told = host.Receive(10000);
  ASSERT_TRUE(told) << program->Stderr();
  EXPECT_EQ(told->lParam, 1);
  EXPECT_EQ(dir.Read("T1.txt"), "CT   012\r\nA003   \r\n");
  Post(1);  // answered (no R1.txt: nothing is sent), polling goes on

  // The same cause after a repair is shown again (another table: the same request at
  // once, before any answer reached the handset, would be taken for the radio's copy).
  std::filesystem::remove(dir.Txt("T1.txt"));
  std::filesystem::create_directory(dir.Txt("T1.txt"));
  Request("A004");
  for (int i = 0; i < 200 && Count(program->Stderr(), lost) < 2; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(Count(program->Stderr(), lost), 2u) << program->Stderr();
  EXPECT_EQ(Messages(), 2u) << program->Stderr();
}

// Fifteen seconds of real time: the wait for the ordering software's answer.
TEST_F(HostNotices, AnOrderingSoftwareThatStopsAnsweringIsShownOnceAndSoIsItsReturn) {
  Request();
  const auto told = host.Receive(10000);
  ASSERT_TRUE(told) << program->Stderr();
  const auto notifiedAt = std::chrono::steady_clock::now();
  ASSERT_TRUE(WaitForStderr(*program, kAnswerMissing, 20000)) << program->Stderr();
  const auto waited = std::chrono::steady_clock::now() - notifiedAt;
  EXPECT_GE(waited, std::chrono::milliseconds(14500));
  EXPECT_NE(program->Stderr().find("warning the ordering software did not answer the \"CT  \" "
                                   "request of handset 012 within 15 s"),
            std::string::npos)
      << program->Stderr();
  EXPECT_EQ(program->Stderr().find(kAnswersAgain), std::string::npos);

  Post(1);
  ASSERT_TRUE(WaitForStderr(*program, kAnswersAgain, 5000)) << program->Stderr();
  EXPECT_EQ(Messages(), 2u) << program->Stderr();
}

}  // namespace
}  // namespace orderlink::e2e
