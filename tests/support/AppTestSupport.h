#pragma once
// Helpers of the application tests: a data directory with TXT files, and a UDP
// socket standing in for the ordering software.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>

#include "app/UdpHostLink.h"
#include "common/Gbk.h"

namespace orderlink::test {

class AppDataDir {
 public:
  AppDataDir() {
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() / ("orderlink-app-" + std::to_string(random()));
    std::filesystem::create_directories(path_ / "TXT");
  }
  ~AppDataDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  [[nodiscard]] const std::filesystem::path& Path() const { return path_; }
  // Writes TXT/<name> with `content` given in UTF-8, stored as GBK.
  void Write(const std::string& name, const std::string& utf8Content) const {
    std::ofstream(path_ / "TXT" / name, std::ios::binary) << Utf8ToGbk(utf8Content);
  }

 private:
  std::filesystem::path path_;
};

// A datagram socket on 127.0.0.1 with a port from the system.
class HostPeer {
 public:
  HostPeer() {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Address(0);
    socklen_t length = sizeof address;
    bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~HostPeer() { close(fd_); }
  [[nodiscard]] int Port() const { return port_; }

  void SendTo(int port, const std::string& bytes) const {
    const sockaddr_in to = Address(port);
    sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  }
  void SendTo(int port, const HostMessage& message) const { SendTo(port, EncodeHostMessage(message)); }

  struct Datagram {
    std::string bytes;
    int fromPort;
  };
  // The next datagram, waiting at most `timeoutMs`.
  [[nodiscard]] std::optional<Datagram> Receive(int timeoutMs = 5000) const {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return std::nullopt;
    char buffer[64];
    sockaddr_in from{};
    socklen_t length = sizeof from;
    const ssize_t n = recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
    if (n < 0) return std::nullopt;
    return Datagram{std::string(buffer, static_cast<std::size_t>(n)), ntohs(from.sin_port)};
  }

 private:
  static sockaddr_in Address(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    return address;
  }
  int fd_;
  int port_ = 0;
};

// 12 bytes little-endian, written out by hand.
inline std::string LittleEndianMessage(std::uint32_t message, std::uint32_t wParam, std::int32_t lParam) {
  std::string out;
  for (std::uint32_t v : {message, wParam, static_cast<std::uint32_t>(lParam)}) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  }
  return out;
}

}  // namespace orderlink::test
