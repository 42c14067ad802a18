// The two tools as processes: the station over its own pseudo-terminal, the host
// over its UDP port, with this test as the program at the other end.

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "common/Gbk.h"
#include "common/TextFile.h"

namespace orderlink {
namespace {

namespace fs = std::filesystem;

struct Child {
  pid_t pid = -1;
  FILE* out = nullptr;  // the child's stdout
};

Child Spawn(const std::vector<std::string>& args) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipeFds[1], 1);
    ::close(pipeFds[0]);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  return Child{pid, ::fdopen(pipeFds[0], "r")};
}

std::string ReadLine(FILE* in) {
  char buffer[4096];
  return std::fgets(buffer, sizeof buffer, in) ? std::string(buffer) : std::string();
}

// Everything the child still prints, then its exit status.
std::pair<std::string, int> Finish(Child& child) {
  std::string rest;
  for (std::string line = ReadLine(child.out); !line.empty(); line = ReadLine(child.out))
    rest += line;
  std::fclose(child.out);
  int status = 0;
  ::waitpid(child.pid, &status, 0);
  return {rest, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

std::string Tool(const char* name) {
  const fs::path path = fs::path(ORDERLINK_BIN_DIR) / name;
  return fs::exists(path) ? path.string() : std::string();
}

std::string ReadFor(int fd, int ms) {
  std::string out;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
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
  Child sim = Spawn({tool, "--pty", "--handsets", "4", "--no-pacing", "--seconds", "20"});
  const std::string first = ReadLine(sim.out);
  ASSERT_EQ(first.rfind("PTY /dev/", 0), 0u) << first;
  const std::string slave = first.substr(4, first.size() - 5);
  const int fd = ::open(slave.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  termios tio{};
  ::tcgetattr(fd, &tio);
  ::cfmakeraw(&tio);
  ::tcsetattr(fd, TCSANOW, &tio);
  const std::string poll("\0\0\0\xC0\x01\x04", 6);
  ASSERT_EQ(::write(fd, poll.data(), poll.size()), 6);
  const std::string answer = ReadFor(fd, 400);
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
  const fs::path appDir =
      fs::temp_directory_path() / ("hostsim-test-" + std::to_string(::getpid()));
  fs::create_directories(appDir / "TXT");
  ASSERT_TRUE(WriteFileBytes(appDir / "TXT" / "T1.txt", "KT   007\r\nA012 04 10001\r\n"));
  Child host = Spawn({tool, "--appdir", appDir.string(), "--no-launch", "--reply-delay-ms", "0"});
  const std::string first = ReadLine(host.out);
  ASSERT_EQ(first.rfind("PORT ", 0), 0u) << first;
  const int hostPort = std::stoi(first.substr(5));

  const int sock = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in self{};
  self.sin_family = AF_INET;
  self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&self), sizeof self), 0);
  socklen_t length = sizeof self;
  ::getsockname(sock, reinterpret_cast<sockaddr*>(&self), &length);
  sockaddr_in to = self;
  to.sin_port = htons(static_cast<std::uint16_t>(hostPort));
  const auto post = [&](std::uint32_t message, std::int32_t lParam) {
    const std::uint32_t fields[3] = {message, 0, static_cast<std::uint32_t>(lParam)};
    unsigned char data[12];
    for (int f = 0; f < 3; ++f) {
      for (int b = 0; b < 4; ++b)
        data[f * 4 + b] = static_cast<unsigned char>(fields[f] >> (8 * b));
    }
    ::sendto(sock, data, sizeof data, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  };
  post(1280, ntohs(self.sin_port));  // the program announces its port
  post(1280, 1);                     // a request is in T1.txt

  pollfd p{sock, POLLIN, 0};
  ASSERT_GT(::poll(&p, 1, 3000), 0) << "no answer to code 1";
  unsigned char reply[16] = {};
  ASSERT_EQ(::recv(sock, reply, sizeof reply, 0), 12);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(reply), 12),
            std::string("\x00\x05\0\0\0\0\0\0\x01\0\0\0", 12));
  const auto r1 = ReadLines(appDir / "TXT" / "R1.txt");
  ASSERT_TRUE(r1);
  ASSERT_GE(r1->size(), 2u);
  EXPECT_EQ(r1->at(0), "KT   007");
  EXPECT_EQ(GbkToUtf8(r1->at(1)), "开台成功 A012 人数:04");

  post(16, 0);  // WM_CLOSE
  const auto [rest, status] = Finish(host);
  EXPECT_EQ(status, 0) << rest;
  EXPECT_NE(rest.find("summary: notifications=1 requests=1 replies=1"), std::string::npos) << rest;
  EXPECT_NE(rest.find("wm_close=1"), std::string::npos) << rest;
  ::close(sock);
  fs::remove_all(appDir);
}

}  // namespace
}  // namespace orderlink
