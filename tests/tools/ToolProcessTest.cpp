// The two tools as processes: the station over its own pseudo-terminal, the host
// over its UDP port, with this test as the program at the other end.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

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

}  // namespace
}  // namespace orderlink
