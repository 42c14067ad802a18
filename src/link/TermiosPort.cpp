// The only file that knows termios. Works on real ports, USB adapters and
// pseudo-terminals: modem-line ioctls a device lacks (ENOTTY on a pty) are not
// errors, and a hang-up is reported once.

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "app/PortPaths.h"
#include "link/SerialPort.h"

namespace orderlink {

namespace {

class TermiosPort final : public SerialPort {
 public:
  explicit TermiosPort(int fd) : fd_(fd) {}
  ~TermiosPort() override { Close(); }

  bool IsOpen() const override { return fd_ >= 0; }

  bool Write(std::string_view bytes) override {
    if (fd_ < 0 || hungUp_) return false;
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else if (n < 0 && errno == EAGAIN) {
        // Output buffer full: wait for room as a blocking append would, but give
        // up on a line that takes nothing for a second so no thread hangs on it.
        pollfd p{fd_, POLLOUT, 0};
        if (::poll(&p, 1, 1000) <= 0) return false;
      } else {
        return false;
      }
    }
    return true;
  }

  ReadOutcome ReadAll(std::string& out) override {
    out.clear();
    if (fd_ < 0 || hungUp_) return ReadOutcome::HungUp;
    char buffer[4096];
    while (true) {
      const ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n > 0) {
        out.append(buffer, static_cast<std::size_t>(n));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return ReadOutcome::Ok;
      // End of file (the other side hung up) or a read error: report it once.
      hungUp_ = true;
      return out.empty() ? ReadOutcome::HungUp : ReadOutcome::Ok;
    }
  }

  int OutputPending() override {
    int pending = 0;
    if (fd_ < 0 || ::ioctl(fd_, TIOCOUTQ, &pending) != 0) return 0;
    return pending;
  }

  void DiscardOutput() override {
    if (fd_ >= 0) ::tcflush(fd_, TCOFLUSH);
  }

  int Handle() const override { return fd_; }

  void Close() override {
    if (fd_ >= 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }

 private:
  int fd_;
  bool hungUp_ = false;
};

bool Configure(int fd, std::string* error) {
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) {
    *error = std::string("cannot read line settings: ") + std::strerror(errno);
    return false;
  }
  ::cfmakeraw(&tio);
  tio.c_cflag &= ~(CSTOPB | PARENB | CRTSCTS | CSIZE);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_iflag &= ~(IXON | IXOFF | IXANY);
  // VMIN 1 with O_NONBLOCK: an empty read fails with EAGAIN. (VMIN 0 would return
  // 0, the same as a hang-up.)
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  if (::cfsetispeed(&tio, B19200) != 0 || ::cfsetospeed(&tio, B19200) != 0 ||
      ::tcsetattr(fd, TCSANOW, &tio) != 0) {
    *error = std::string("cannot apply 19200 8N1: ") + std::strerror(errno);
    return false;
  }
  // Raise DTR and RTS where the device has modem lines; a pty has none (ENOTTY).
  int lines = TIOCM_DTR | TIOCM_RTS;
  if (::ioctl(fd, TIOCMBIS, &lines) != 0 && errno != ENOTTY && errno != EINVAL) {
    *error = std::string("cannot set modem lines: ") + std::strerror(errno);
    return false;
  }
  ::tcflush(fd, TCIOFLUSH);  // both buffers emptied
  return true;
}

}  // namespace

std::string ComDevicePath(int n) {
  const std::string variable = "ORDERLINK_COM" + std::to_string(n);
  if (const char* device = std::getenv(variable.c_str()); device != nullptr && *device != '\0') {
    return device;
  }
  if (auto device = ConfiguredComDevice(n)) return *device;
  return "/dev/ttyS" + std::to_string(n - 1);
}

std::unique_ptr<SerialPort> OpenSerialPort(const std::string& device, std::string* error) {
  std::string ignored;
  if (error == nullptr) error = &ignored;
  const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *error = device + ": " + std::strerror(errno);
    return nullptr;
  }
  if (!::isatty(fd)) {
    *error = device + ": not a serial device";
    ::close(fd);
    return nullptr;
  }
  if (!Configure(fd, error)) {
    *error = device + ": " + *error;
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<TermiosPort>(fd);
}

}  // namespace orderlink
