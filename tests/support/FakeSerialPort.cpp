#include "support/FakeSerialPort.h"

#include <cstdio>

namespace orderlink::test {

bool FakeSerialPort::Write(std::string_view bytes) {
  if (!open_ || hungUp_) return false;
  std::lock_guard lock(mutex_);
  writes_.push_back({clock_ ? clock_->NowMs() : 0, std::string(bytes)});
  return true;
}

ReadOutcome FakeSerialPort::Read(std::string& out, std::size_t maxBytes) {
  std::lock_guard lock(mutex_);
  out.assign(input_, 0, maxBytes);
  input_.erase(0, out.size());
  return out.empty() && hungUp_ ? ReadOutcome::HungUp : ReadOutcome::Ok;
}

void FakeSerialPort::QueueInput(std::string bytes) {
  std::lock_guard lock(mutex_);
  input_ += bytes;
}

std::vector<struct FakeSerialPort::Write> FakeSerialPort::Writes() const {
  std::lock_guard lock(mutex_);
  return writes_;
}

std::string FakeSerialPort::Written() const {
  std::lock_guard lock(mutex_);
  std::string all;
  for (const auto& w : writes_) all += w.bytes;
  return all;
}

void FakeSerialPort::ClearWrites() {
  std::lock_guard lock(mutex_);
  writes_.clear();
}

std::string Hex(std::string_view hex) {
  std::string out;
  int high = -1;
  for (char c : hex) {
    int v;
    if (c >= '0' && c <= '9')
      v = c - '0';
    else if (c >= 'a' && c <= 'f')
      v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      v = c - 'A' + 10;
    else
      continue;
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<char>(high * 16 + v));
      high = -1;
    }
  }
  return out;
}

std::string ToHex(std::string_view bytes) {
  std::string out;
  char buf[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", static_cast<unsigned char>(bytes[i]));
    out += buf;
  }
  return out;
}

std::string LongFrame(std::uint8_t route, std::uint8_t address, std::uint8_t sequence, bool more,
                      std::string_view code, std::string_view body) {
  std::string frame("\0\0\0", 3);
  frame += static_cast<char>(route);
  frame += '\x02';
  frame += static_cast<char>(body.size() + 7);
  frame += static_cast<char>(address);
  frame += static_cast<char>(sequence);
  frame += static_cast<char>(more ? 1 : 0);
  frame += code;
  frame += body;
  return frame;
}

}  // namespace orderlink::test
