#pragma once
// A serial port that records every write with the (virtual) time it was made.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "common/Clock.h"
#include "link/SerialPort.h"

namespace orderlink::test {

class FakeSerialPort final : public SerialPort {
 public:
  struct Write {
    std::int64_t atMs;
    std::string bytes;
  };

  explicit FakeSerialPort(const Clock* clock = nullptr) : clock_(clock) {}

  bool IsOpen() const override { return open_; }
  bool Write(std::string_view bytes) override;
  ReadOutcome Read(std::string& out, std::size_t maxBytes) override;
  int OutputPending() override { return pendingOutput_; }
  int Handle() const override { return handle_; }
  void Close() override { open_ = false; }

  // Test controls.
  void QueueInput(std::string bytes);
  // The far end goes away: reads report a hang-up once the queued input is read,
  // writes fail.
  void HangUp() { hungUp_ = true; }
  // The descriptor the fake claims to be watched on (-1 by default).
  void SetHandle(int handle) { handle_ = handle; }
  void SetOutputPending(int n) { pendingOutput_ = n; }
  [[nodiscard]] std::vector<struct Write> Writes() const;
  // Every byte written, joined.
  [[nodiscard]] std::string Written() const;
  void ClearWrites();

 private:
  const Clock* clock_;
  std::atomic<bool> open_{true};
  std::atomic<bool> hungUp_{false};
  int handle_ = -1;
  int pendingOutput_ = 0;
  mutable std::mutex mutex_;
  std::vector<struct Write> writes_;
  std::string input_;
};

// Bytes from a hex string such as "00 00 00 C0 01 05".
std::string Hex(std::string_view hex);
// Hex string of bytes, "00 00 00 C0 01 05".
std::string ToHex(std::string_view bytes);
// A long frame written out byte by byte, apart from the program's encoder:
// 00 00 00 route 02 L address sequence more code body, with L = body length + 7.
// Frames from a handset carry the address FF.
std::string LongFrame(std::uint8_t route, std::uint8_t address, std::uint8_t sequence, bool more,
                      std::string_view code, std::string_view body);

}  // namespace orderlink::test
