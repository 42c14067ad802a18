#include "link/ReplaceablePort.h"

namespace orderlink {

std::shared_ptr<SerialPort> ReplaceablePort::Current() const {
  std::lock_guard lock(mutex_);
  return device_;
}

void ReplaceablePort::Attach(std::shared_ptr<SerialPort> device) {
  {
    std::lock_guard lock(mutex_);
    device_.swap(device);
  }
  // `device` now holds the previous one: it is let go here, outside the lock, and
  // closes once no write holds it any more.
}

bool ReplaceablePort::IsOpen() const {
  const auto device = Current();
  return device != nullptr && device->IsOpen();
}

bool ReplaceablePort::Write(std::string_view bytes) {
  const auto device = Current();
  return device != nullptr && device->Write(bytes);
}

ReadOutcome ReplaceablePort::Read(std::string& out, std::size_t maxBytes) {
  const auto device = Current();
  if (device == nullptr) {
    out.clear();
    return ReadOutcome::HungUp;
  }
  return device->Read(out, maxBytes);
}

int ReplaceablePort::OutputPending() {
  const auto device = Current();
  return device != nullptr ? device->OutputPending() : 0;
}

int ReplaceablePort::Handle() const {
  const auto device = Current();
  return device != nullptr ? device->Handle() : -1;
}

}  // namespace orderlink
