#include "app/UdpHostLink.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace orderlink {

namespace {

void PutLe32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

std::uint32_t GetLe32(std::string_view bytes, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes[at + i]);
  return v;
}

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  return address;
}

}  // namespace

std::string EncodeHostMessage(const HostMessage& message) {
  std::string out;
  out.reserve(kHostMessageSize);
  PutLe32(out, message.message);
  PutLe32(out, message.wParam);
  PutLe32(out, static_cast<std::uint32_t>(message.lParam));
  return out;
}

std::optional<HostMessage> DecodeHostMessage(std::string_view bytes) {
  if (bytes.size() != kHostMessageSize) return std::nullopt;
  return HostMessage{GetLe32(bytes, 0), GetLe32(bytes, 4),
                     static_cast<std::int32_t>(GetLe32(bytes, 8))};
}

UdpHostLink::UdpHostLink() {
  fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return;
  sockaddr_in address = Loopback(0);
  socklen_t length = sizeof address;
  if (bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(fd_);
    fd_ = -1;
    return;
  }
  ownPort_ = ntohs(address.sin_port);
}

UdpHostLink::~UdpHostLink() {
  if (fd_ >= 0) close(fd_);
}

void UdpHostLink::Notify(int code) { Post({kHostNotifyMessage, 0, code}); }

void UdpHostLink::Post(const HostMessage& message) {
  const int port = hostPort_.load();
  if (fd_ < 0 || port <= 0) return;
  if (observer) observer(true, message);
  const std::string bytes = EncodeHostMessage(message);
  const sockaddr_in to = Loopback(port);
  // Like a posted message: a full buffer or a vanished receiver is not our concern.
  (void)sendto(fd_, bytes.data(), bytes.size(), MSG_DONTWAIT,
               reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

std::vector<HostMessage> UdpHostLink::ReadPending() {
  std::vector<HostMessage> messages;
  if (fd_ < 0) return messages;
  for (;;) {
    char buffer[64];
    sockaddr_in from{};
    socklen_t length = sizeof from;
    const ssize_t n = recvfrom(fd_, buffer, sizeof buffer, MSG_DONTWAIT,
                               reinterpret_cast<sockaddr*>(&from), &length);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;  // EAGAIN: nothing more waits
    }
    const int port = hostPort_.load();
    const bool fromHost = from.sin_family == AF_INET &&
                          from.sin_addr.s_addr == htonl(INADDR_LOOPBACK) && port > 0 &&
                          ntohs(from.sin_port) == port;
    if (!fromHost) continue;
    if (auto message = DecodeHostMessage(std::string_view(buffer, static_cast<std::size_t>(n)))) {
      if (observer) observer(false, *message);
      messages.push_back(*message);
    }
  }
  return messages;
}

}  // namespace orderlink
