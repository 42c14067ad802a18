// The only file that knows termios. Works on real ports, USB adapters and
// pseudo-terminals: modem-line ioctls a device lacks (ENOTTY on a pty) are not
// errors, and a hang-up is reported once.

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "common/Log.h"
#include "link/ConfiguredComDevices.h"
#include "link/SerialPort.h"

namespace orderlink {

namespace {

// Threads: Read on the window thread; Write and OutputPending on the
// send thread (or the station dialogue's, under its lock). The descriptor is fixed for the object's
// life (Close only runs when no other thread uses it); the hang-up seen by a read is an atomic so
// that writes on other threads fail at once afterwards.
class TermiosPort final : public SerialPort {
 public:
  explicit TermiosPort(int fd) : fd_(fd) {}
  ~TermiosPort() override { Close(); }

  bool IsOpen() const override { return fd_ >= 0; }

  bool Write(std::string_view bytes) override {
    if (fd_ < 0 || hungUp_.load()) return false;
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
        if (::poll(&p, 1, 1000) <= 0 || (p.revents & (POLLHUP | POLLERR)) != 0) return false;
      } else {
        hungUp_ = true;  // EIO: the device is gone; later writes fail at once
        return false;
      }
    }
    return true;
  }

  ReadOutcome Read(std::string& out, std::size_t maxBytes) override {
    out.resize(maxBytes);
    if (fd_ < 0 || hungUp_.load()) {
      out.clear();
      return ReadOutcome::HungUp;
    }
    while (true) {
      const ssize_t n = ::read(fd_, out.data(), maxBytes);
      if (n > 0) {
        out.resize(static_cast<std::size_t>(n));
        return ReadOutcome::Ok;
      }
      if (n < 0 && errno == EINTR) continue;
      out.clear();
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return ReadOutcome::Ok;
      // End of file (the other side hung up) or a read error: report it once.
      hungUp_ = true;
      return ReadOutcome::HungUp;
    }
  }

  int OutputPending() override {
    int pending = 0;
    if (fd_ < 0 || ::ioctl(fd_, TIOCOUTQ, &pending) != 0) return 0;
    return pending;
  }

  int Handle() const override { return fd_; }

  void Close() override {
    if (fd_ >= 0) {
      // The exclusive mode belongs to the tty, not to this descriptor: a device that
      // someone else keeps open would otherwise stay closed to unprivileged users.
      ::ioctl(fd_, TIOCNXCL);
      ::close(fd_);  // also drops the flock
      fd_ = -1;
    }
  }

 private:
  int fd_;
  std::atomic<bool> hungUp_{false};
};

// Fills `error` for `code` on `device`; the owning group only matters for a refusal.
void SetError(PortOpenError* error, const std::string& device, int code) {
  error->device = device;
  error->code = code;
  error->systemReason = std::strerror(code);
  error->group.clear();
  if (code != EACCES && code != EPERM) return;
  struct stat info {};
  if (::stat(device.c_str(), &info) != 0) return;
  if (const group* owner = ::getgrgid(info.st_gid); owner != nullptr) error->group = owner->gr_name;
}

// Errno of the first step that fails, 0 when the line is set.
int Configure(int fd) {
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) return errno;
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
    return errno;
  }
  // Raise DTR and RTS where the device has modem lines; a pty has none (ENOTTY).
  int lines = TIOCM_DTR | TIOCM_RTS;
  if (::ioctl(fd, TIOCMBIS, &lines) != 0 && errno != ENOTTY && errno != EINVAL) return errno;
  ::tcflush(fd, TCIOFLUSH);  // both buffers emptied
  return 0;
}

// Claims the device for this process before anything about it is changed, so that
// a second program fails without flushing or resetting the first one's line.
// flock holds for root too, which TIOCEXCL does not stop.
int HoldExclusively(int fd) {
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return errno == EWOULDBLOCK ? EBUSY : errno;
  if (::ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY) return errno;
  return 0;
}

}  // namespace

ComDevice LookUpComDevice(int n) {
  const std::string variable = "ORDERLINK_COM" + std::to_string(n);
  if (const char* device = std::getenv(variable.c_str()); device != nullptr && *device != '\0') {
    return {device, "from " + variable, "环境变量" + variable};
  }
  if (auto device = ConfiguredComDevice(n)) {
    const std::string line = std::to_string(device->line);
    return {device->device,
            "from COM" + std::to_string(n) + "= in " + device->file + " line " + line,
            "设置文件" + device->file + "第" + line + "行的COM" + std::to_string(n)};
  }
  return {"/dev/ttyS" + std::to_string(n - 1),
          "the default: neither " + variable + " nor COM" + std::to_string(n) + "= is set", ""};
}

std::string ComDevicePath(int n) { return LookUpComDevice(n).path; }

std::unique_ptr<SerialPort> OpenComPort(int n, PortOpenError* error) {
  const ComDevice device = LookUpComDevice(n);
  auto port = OpenSerialPort(device.path, error);
  if (!port) return nullptr;
  std::string line = "COM" + std::to_string(n) + ": opened " + device.path;
  // A /dev/serial/by-id name is a link: say which tty it is today.
  std::error_code ec;
  if (std::filesystem::is_symlink(device.path, ec)) {
    const auto target = std::filesystem::canonical(device.path, ec);
    if (!ec) line += " -> " + target.string();
  }
  line += " (" + device.origin + "), 19200 baud 8N1, no flow control, held exclusively";
  LogInfo(line);
  return port;
}

std::unique_ptr<SerialPort> OpenSerialPort(const std::string& device, PortOpenError* error) {
  PortOpenError ignored;
  if (error == nullptr) error = &ignored;
  const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    SetError(error, device, errno);
    return nullptr;
  }
  int failure = ::isatty(fd) ? 0 : ENOTTY;
  if (failure == 0) failure = HoldExclusively(fd);
  if (failure == 0) failure = Configure(fd);
  if (failure != 0) {
    ::close(fd);
    SetError(error, device, failure);
    return nullptr;
  }
  return std::make_unique<TermiosPort>(fd);
}

std::unique_ptr<SerialPort> OpenSerialPort(const std::string& device, std::string* error) {
  PortOpenError failure;
  auto port = OpenSerialPort(device, &failure);
  if (!port && error != nullptr) *error = failure.Summary();
  return port;
}

}  // namespace orderlink
