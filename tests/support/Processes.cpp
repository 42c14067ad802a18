#include "support/Processes.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "common/Gbk.h"
#include "common/TextFile.h"

namespace orderlink::test {

namespace {
std::string UniqueTemp(const char* what) {
  static int counter = 0;
  return (std::filesystem::temp_directory_path() /
          (std::string("orderlink-") + what + "-" + std::to_string(getpid()) + "-" +
           std::to_string(++counter)))
      .string();
}
}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::vector<std::string>& extraEnv) {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return;
  stderrPath_ = UniqueTemp("stderr");
  pid_ = fork();
  if (pid_ == 0) {
    dup2(out[1], STDOUT_FILENO);
    const int err = open(stderrPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (err >= 0) dup2(err, STDERR_FILENO);
    for (const auto& e : extraEnv) putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(out[1]);
  stdoutFd_ = out[0];
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !status_) {
    Signal(SIGTERM);
    if (!Wait(3000)) {
      Signal(SIGKILL);
      Wait(3000);
    }
  }
  if (stdoutFd_ >= 0) close(stdoutFd_);
  if (!stderrPath_.empty()) std::filesystem::remove(stderrPath_);
}

std::optional<std::string> ChildProcess::ReadLine(int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (true) {
    if (auto nl = stdoutBuffer_.find('\n'); nl != std::string::npos) {
      std::string line = stdoutBuffer_.substr(0, nl);
      stdoutBuffer_.erase(0, nl + 1);
      return line;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          end - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0 || stdoutFd_ < 0) return std::nullopt;
    pollfd p{stdoutFd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    char buffer[1024];
    const ssize_t n = read(stdoutFd_, buffer, sizeof buffer);
    if (n <= 0) return std::nullopt;
    stdoutBuffer_.append(buffer, static_cast<std::size_t>(n));
  }
}

std::string ChildProcess::Stderr() const { return ReadFileBytes(stderrPath_).value_or(""); }

void ChildProcess::Signal(int signal) {
  if (pid_ > 0 && !status_) kill(pid_, signal);
}

std::optional<int> ChildProcess::Wait(int timeoutMs) {
  if (status_) return status_;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (true) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return status_;
    }
    if (std::chrono::steady_clock::now() >= end) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

PtyPair::PtyPair() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
  slavePath_ = ptsname(master_);
  slaveKeepOpen_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slaveKeepOpen_ >= 0) {
    termios tio{};
    tcgetattr(slaveKeepOpen_, &tio);
    cfmakeraw(&tio);
    tcsetattr(slaveKeepOpen_, TCSANOW, &tio);
  }
}

PtyPair::~PtyPair() {
  if (slaveKeepOpen_ >= 0) close(slaveKeepOpen_);
  if (master_ >= 0) close(master_);
}

std::string PtyPair::Read(int ms) { return ReadAtLeast(static_cast<std::size_t>(-1), ms); }

std::string PtyPair::ReadAtLeast(std::size_t count, int ms) {
  std::string out;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (out.size() < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          end - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) break;
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    char buffer[4096];
    const ssize_t n = read(master_, buffer, sizeof buffer);
    if (n > 0) out.append(buffer, static_cast<std::size_t>(n));
  }
  return out;
}

void PtyPair::Write(std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

UdpPeer::UdpPeer() {
  fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
}

UdpPeer::~UdpPeer() {
  if (fd_ >= 0) close(fd_);
}

namespace {
std::uint32_t ReadLe32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
void WriteLe32(unsigned char* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
}  // namespace

std::optional<UdpPeer::RawDatagram> UdpPeer::ReceiveBytes(int timeoutMs) {
  pollfd p{fd_, POLLIN, 0};
  if (poll(&p, 1, timeoutMs) <= 0) return std::nullopt;
  char buffer[64];
  sockaddr_in from{};
  socklen_t len = sizeof from;
  const ssize_t n =
      recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &len);
  if (n < 0) return std::nullopt;
  return RawDatagram{std::string(buffer, static_cast<std::size_t>(n)), ntohs(from.sin_port)};
}

std::optional<Datagram> UdpPeer::Receive(int timeoutMs) {
  const auto raw = ReceiveBytes(timeoutMs);
  if (!raw || raw->bytes.size() != 12) return std::nullopt;
  const auto* b = reinterpret_cast<const unsigned char*>(raw->bytes.data());
  return Datagram{ReadLe32(b), ReadLe32(b + 4), static_cast<std::int32_t>(ReadLe32(b + 8)),
                  raw->fromPort};
}

void UdpPeer::Send(std::uint16_t port, std::uint32_t message, std::uint32_t wParam,
                   std::int32_t lParam) {
  unsigned char buffer[12];
  WriteLe32(buffer, message);
  WriteLe32(buffer + 4, wParam);
  WriteLe32(buffer + 8, static_cast<std::uint32_t>(lParam));
  SendBytes(port, std::string_view(reinterpret_cast<const char*>(buffer), sizeof buffer));
}

void UdpPeer::SendBytes(std::uint16_t port, std::string_view bytes) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(port);
  sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

TempAppDir::TempAppDir() : path_(UniqueTemp("appdir")) {
  std::filesystem::create_directories(path_ + "/TXT");
}

TempAppDir::~TempAppDir() { std::filesystem::remove_all(path_); }

void TempAppDir::WriteGbk(const std::string& name, const std::string& utf8) const {
  (void)WriteFileBytes(Txt(name), Utf8ToGbk(utf8));
}

void TempAppDir::WriteLines(const std::string& name,
                            const std::vector<std::string>& gbkLines) const {
  if (!orderlink::WriteLines(Txt(name), gbkLines)) throw std::runtime_error("cannot write " + name);
}

std::optional<std::string> TempAppDir::Read(const std::string& name) const {
  return ReadFileBytes(Txt(name));
}

std::string FindProgram(const std::string& program) {
  const char* path = std::getenv("PATH");
  const std::string dirs = path != nullptr ? path : "";
  std::size_t from = 0;
  while (from <= dirs.size()) {
    const std::size_t colon = std::min(dirs.find(':', from), dirs.size());
    const std::string dir = dirs.substr(from, colon - from);
    const std::string candidate = dir + "/" + program;
    if (!dir.empty() && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    from = colon + 1;
  }
  return "";
}

}  // namespace orderlink::test
