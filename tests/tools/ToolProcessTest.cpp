// The two tools as processes: the station over its own pseudo-terminal, the host
// over its UDP port, with this test as the program at the other end; and both
// with their field faults around the real program.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "common/Gbk.h"
#include "common/TextFile.h"
#include "support/Processes.h"

namespace orderlink {
namespace {

namespace fs = std::filesystem;
using test::ChildProcess;

// Everything the child still prints, then its exit status.
std::pair<std::string, int> Finish(ChildProcess& child) {
  std::string rest;
  while (const auto line = child.ReadLine(30'000)) rest += *line + "\n";
  return {rest, child.Wait(30'000).value_or(-1)};
}

std::string Tool(const char* name) {
  const fs::path path = fs::path(ORDERLINK_BIN_DIR) / name;
  return fs::exists(path) ? path.string() : std::string();
}

// Reads until `count` bytes have come or `ms` have passed.
std::string ReadAtLeast(int fd, std::size_t count, int ms) {
  std::string out;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (out.size() < count && std::chrono::steady_clock::now() < end) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 20) > 0) {
      char buffer[256];
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n > 0) out.append(buffer, static_cast<std::size_t>(n));
    }
  }
  return out;
}

TEST(BaseSimProcess, AnswersAPollOnItsPtyAndSumsUpWhenTheLineHangsUp) {
  const std::string tool = Tool("orderlink-basesim");
  if (tool.empty()) GTEST_SKIP() << "orderlink-basesim is not built";
  ChildProcess sim({tool, "--pty", "--handsets", "4", "--no-pacing", "--seconds", "20"}, {});
  const std::string first = sim.ReadLine(10'000).value_or("");
  ASSERT_EQ(first.rfind("PTY /dev/", 0), 0u) << first;
  const std::string slave = first.substr(4);
  const int fd = ::open(slave.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  termios tio{};
  ::tcgetattr(fd, &tio);
  ::cfmakeraw(&tio);
  ::tcsetattr(fd, TCSANOW, &tio);
  const std::string poll("\0\0\0\xC0\x01\x04", 6);
  ASSERT_EQ(::write(fd, poll.data(), poll.size()), 6);
  const std::string answer = ReadAtLeast(fd, 17, 5000);
  ASSERT_GE(answer.size(), 17u);
  EXPECT_EQ(answer.substr(0, 13), std::string("\0\0\0\xC0\x02\x21\xFF\x01\x00", 9) + "DL  ");
  EXPECT_EQ(answer.substr(13, 4),
            "\x04"
            "004");
  const std::string garbage = "\x41\x42";
  ASSERT_EQ(::write(fd, garbage.data(), garbage.size()), 2);
  ::usleep(100'000);
  ::close(fd);  // hang-up ends the station before its 20 s

  const auto [rest, status] = Finish(sim);
  EXPECT_EQ(status, 1) << "a reject makes the exit status 1";
  EXPECT_NE(rest.find("end: reason=hang-up"), std::string::npos) << rest;
  EXPECT_NE(rest.find("summary: requests=1 answered=0 lost=0 pending=1"), std::string::npos)
      << rest;
  EXPECT_NE(rest.find("rejects=1"), std::string::npos) << rest;
}

TEST(HostSimProcess, AnswersARequestAndEndsOnWmClose) {
  const std::string tool = Tool("orderlink-hostsim");
  if (tool.empty()) GTEST_SKIP() << "orderlink-hostsim is not built";
  const test::TempAppDir appDir;
  ASSERT_TRUE(WriteFileBytes(appDir.Txt("T1.txt"), "KT   007\r\nA012 04 10001\r\n"));
  ChildProcess host({tool, "--appdir", appDir.Path(), "--no-launch", "--reply-delay-ms", "0"}, {});
  const std::string first = host.ReadLine(10'000).value_or("");
  ASSERT_EQ(first.rfind("PORT ", 0), 0u) << first;
  const auto hostPort = static_cast<std::uint16_t>(std::stoi(first.substr(5)));

  test::UdpPeer program;
  program.Send(hostPort, 1280, 0, program.Port());  // the program announces its port
  program.Send(hostPort, 1280, 0, 1);               // a request is in T1.txt

  const auto reply = program.ReceiveBytes(10'000);
  ASSERT_TRUE(reply) << "no answer to code 1";
  EXPECT_EQ(reply->bytes, std::string("\x00\x05\0\0\0\0\0\0\x01\0\0\0", 12));
  const auto r1 = ReadLines(appDir.Txt("R1.txt"));
  ASSERT_TRUE(r1);
  ASSERT_GE(r1->size(), 2u);
  EXPECT_EQ(r1->at(0), "KT   007");
  EXPECT_EQ(GbkToUtf8(r1->at(1)), "开台成功 A012 人数:04");

  program.Send(hostPort, 16, 0, 0);  // WM_CLOSE
  const auto [rest, status] = Finish(host);
  EXPECT_EQ(status, 0) << rest;
  EXPECT_NE(rest.find("summary: notifications=1 requests=1 replies=1"), std::string::npos) << rest;
  EXPECT_NE(rest.find("wm_close=1"), std::string::npos) << rest;
}

// The line of `lines` that starts with `prefix`, or "".
std::string LineStarting(const std::string& lines, const std::string& prefix) {
  std::istringstream stream(lines);
  for (std::string line; std::getline(stream, line);) {
    if (line.rfind(prefix, 0) == 0) return line;
  }
  return "";
}

// The number after " name=" in `line`, or -1.
long Field(const std::string& line, const std::string& name) {
  std::smatch match;
  if (!std::regex_search(line, match, std::regex("[ :]" + name + "=([0-9]+)"))) return -1;
  return std::stol(match[1]);
}

// orderlink between the two simulators, each with its faults: the line hangs up
// and comes back behind its link, handsets vanish and send twice, the ordering
// software answers late and twice. Every fault is counted, and each lost request
// names its cause.
TEST(SimulatorsWithFaults, CountEveryFaultAndSayWhyEachRequestWasLost) {
  const std::string station = Tool("orderlink-basesim");
  const std::string host = Tool("orderlink-hostsim");
  if (station.empty() || host.empty() || Tool("orderlink").empty()) {
    GTEST_SKIP() << "the simulators or orderlink are not built";
  }
  const test::TempAppDir dir;
  dir.WriteGbk("基站.txt", "1 COM1\r\n");
  dir.WriteGbk("点菜机.txt", "001 1\r\n002 1\r\n003 1\r\n004 1\r\n");
  const std::string link = dir.Path() + "/line";
  const std::string events = dir.Path() + "/station.events";
  ChildProcess sim({station,
                    "--pty",
                    "--link",
                    link,
                    "--handsets",
                    "1-4",
                    "--think-ms",
                    "300",
                    "--time-query-rate",
                    "0",
                    "--faults",
                    "vanish,duplicate,hangup",
                    "--fault-rate",
                    "0.3",
                    "--vanish-ms",
                    "2000",
                    "--hangup-at",
                    "5",
                    "--outage-ms",
                    "1500",
                    "--events",
                    events,
                    "--seconds",
                    "60"},
                   {});
  ASSERT_EQ(sim.ReadLine(10'000).value_or("").rfind("PTY /dev/", 0), 0u) << sim.Stderr();
  ChildProcess ordering(
      {host, "--appdir", dir.Path(), "--reply-delay-ms", "20", "--late-ms", "600", "--late-share",
       "0.3", "--answer-twice", "0.3", "--seconds", "14"},
      {"ORDERLINK_COM1=" + link, "QT_QPA_PLATFORM=offscreen", "ORDERLINK_NONINTERACTIVE=1"});
  const auto [hostOut, hostStatus] = Finish(ordering);
  const auto [stationOut, stationStatus] = Finish(sim);

  const std::string hostSummary = LineStarting(hostOut, "summary:");
  EXPECT_EQ(Field(hostSummary, "wm_close"), 1) << hostSummary << ordering.Stderr();
  EXPECT_GE(Field(hostSummary, "late"), 1) << hostSummary;
  EXPECT_GE(Field(hostSummary, "answered_twice"), 1) << hostSummary;
  EXPECT_EQ(LineStarting(stationOut, "end:"), "end: reason=hang-up") << stationOut;

  const std::string summary = LineStarting(stationOut, "summary:");
  const std::string faults = LineStarting(stationOut, "faults:");
  const std::string losses = LineStarting(stationOut, "losses:");
  EXPECT_EQ(Field(faults, "hangup"), 1) << faults;
  EXPECT_GE(Field(faults, "vanish"), 1) << faults;
  EXPECT_GE(Field(faults, "duplicate"), 1) << faults;
  EXPECT_EQ(Field(faults, "garbage"), 0) << faults;
  // Each vanished handset lost the request it was in the middle of, and the
  // program is not blamed for it.
  EXPECT_EQ(Field(losses, "vanish"), Field(faults, "vanish")) << losses;
  EXPECT_EQ(Field(losses, "program") + Field(losses, "field"), Field(summary, "lost"))
      << stationOut;
  std::istringstream lines(stationOut);
  long lostLines = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("lost: ", 0) != 0) continue;
    ++lostLines;
    const bool field = line.find(" cause=vanish ") != std::string::npos ||
                       line.find(" cause=hangup ") != std::string::npos;
    EXPECT_NE(line.find(field ? " by=field" : " by=program"), std::string::npos) << line;
  }
  EXPECT_EQ(lostLines, Field(summary, "lost")) << stationOut;

  // The program found the new pty behind the link: requests were answered after
  // the line came back.
  std::ifstream record(events);
  bool back = false;
  int answeredAfter = 0;
  for (std::string line; std::getline(record, line);) {
    if (line.find(" back") != std::string::npos) back = true;
    if (back && line.find(" answered ") != std::string::npos) ++answeredAfter;
  }
  EXPECT_TRUE(back) << stationOut;
  EXPECT_GE(answeredAfter, 1) << sim.Stderr();
  EXPECT_NE(ordering.Stderr().find("message: "), std::string::npos) << "no notice of the hang-up";
  (void)hostStatus;
  (void)stationStatus;
}

}  // namespace
}  // namespace orderlink
