#include "Line.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "link/SerialPort.h"

namespace orderlink::basesim {

namespace {

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) {
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, 100);
        continue;
      }
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

class PtyLine final : public Line {
 public:
  PtyLine(int master, int slave) : master_(master), slave_(slave) {}
  ~PtyLine() override {
    if (slave_ >= 0) ::close(slave_);
    ::close(master_);
  }
  int Fd() const override { return master_; }
  bool Read(std::string& out) override {
    char buffer[4096];
    for (;;) {
      const ssize_t n = ::read(master_, buffer, sizeof buffer);
      if (n > 0) {
        out.append(buffer, static_cast<std::size_t>(n));
        ReleaseSlave();
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) return true;
      return slave_ >= 0;  // EIO or end: the program closed its side
    }
  }
  bool Write(std::string_view bytes) override { return WriteAll(master_, bytes); }
  bool HungUp(short revents) const override {
    return slave_ < 0 && (revents & (POLLHUP | POLLERR)) != 0;
  }

 private:
  void ReleaseSlave() {
    if (slave_ < 0) return;
    ::close(slave_);
    slave_ = -1;
  }
  int master_;
  int slave_;
};

class DeviceLine final : public Line {
 public:
  explicit DeviceLine(std::unique_ptr<SerialPort> port) : port_(std::move(port)) {}
  int Fd() const override { return port_->Handle(); }
  bool Read(std::string& out) override {
    std::string bytes;
    if (port_->ReadAll(bytes) == ReadOutcome::HungUp) return false;
    out += bytes;
    return true;
  }
  bool Write(std::string_view bytes) override { return port_->Write(bytes); }
  bool HungUp(short revents) const override { return (revents & (POLLHUP | POLLERR)) != 0; }

 private:
  std::unique_ptr<SerialPort> port_;
};

}  // namespace

std::unique_ptr<Line> OpenPty(std::string* slavePath, std::string* error) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
    *error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
    if (master >= 0) ::close(master);
    return nullptr;
  }
  const char* name = ::ptsname(master);
  // Neither end goes to a child (the replay starts the program): a copy of the
  // master there would keep the line up after this side hangs up.
  ::fcntl(master, F_SETFD, FD_CLOEXEC);
  const int slave = name == nullptr ? -1 : ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0) {
    *error = std::string("cannot open the pseudo-terminal's slave: ") + std::strerror(errno);
    ::close(master);
    return nullptr;
  }
  // Raw on the slave, where the line discipline sits: no echo, no translation.
  termios tio{};
  ::tcgetattr(slave, &tio);
  ::cfmakeraw(&tio);
  ::cfsetispeed(&tio, B19200);
  ::cfsetospeed(&tio, B19200);
  ::tcsetattr(slave, TCSANOW, &tio);
  ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
  *slavePath = name;
  return std::make_unique<PtyLine>(master, slave);
}

std::unique_ptr<Line> OpenDevice(const std::string& path, std::string* error) {
  auto port = OpenSerialPort(path, error);
  if (!port) return nullptr;
  return std::make_unique<DeviceLine>(std::move(port));
}

}  // namespace orderlink::basesim
