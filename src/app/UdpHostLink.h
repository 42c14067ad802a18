#pragma once
// The link to the ordering software: loopback UDP datagrams stand in for posted window
// messages. Our socket's port on 127.0.0.1 is our "window handle"; the ordering
// software's port is given on the command line.
//
// One datagram is one message, 12 bytes little-endian: uint32 message (1280 HostNotify,
// 16 WM_CLOSE), uint32 wParam, int32 lParam. Only datagrams from 127.0.0.1 and the
// host's port are accepted (our own port in debug mode); all others are dropped unread.

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/HostLink.h"

namespace orderlink {

inline constexpr std::size_t kHostMessageSize = 12;

[[nodiscard]] std::string EncodeHostMessage(const HostMessage& message);
// nullopt unless `bytes` is exactly 12 bytes long.
[[nodiscard]] std::optional<HostMessage> DecodeHostMessage(std::string_view bytes);

class UdpHostLink final : public HostConnection {
 public:
  // Binds a non-blocking datagram socket on 127.0.0.1 with a port from the system.
  UdpHostLink();
  ~UdpHostLink() override;
  UdpHostLink(const UdpHostLink&) = delete;
  UdpHostLink& operator=(const UdpHostLink&) = delete;

  [[nodiscard]] bool Bound() const { return fd_ >= 0; }
  [[nodiscard]] int OwnPort() const override { return ownPort_; }
  void SetHostPort(int port) override { hostPort_ = port; }
  [[nodiscard]] int HostPort() const override { return hostPort_.load(); }

  // HostNotify(0, code). Any thread; never blocks, never reports.
  void Notify(int code) override;
  // Never blocks, never reports.
  void Post(const HostMessage& message) override;

  // Readable when datagrams wait. -1 when the socket could not be made.
  [[nodiscard]] int Handle() const { return fd_; }
  [[nodiscard]] std::vector<HostMessage> ReadPending() override;

  // Sees every message posted (sent = true) and every one accepted, before it is sent
  // or handed on. Set once before the link is used.
  std::function<void(bool sent, const HostMessage&)> observer;

 private:
  int fd_ = -1;
  int ownPort_ = 0;
  std::atomic<int> hostPort_{0};
};

}  // namespace orderlink
