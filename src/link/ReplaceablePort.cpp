#include "link/ReplaceablePort.h"

namespace orderlink {

bool ReplaceablePort::IsOpen() const {
  const auto device = device_.load();
  return device != nullptr && device->IsOpen();
}

bool ReplaceablePort::Write(std::string_view bytes) {
  const auto device = device_.load();
  return device != nullptr && device->Write(bytes);
}

ReadOutcome ReplaceablePort::Read(std::string& out, std::size_t maxBytes) {
  const auto device = device_.load();
  if (device == nullptr) {
    out.clear();
    return ReadOutcome::HungUp;
  }
  return device->Read(out, maxBytes);
}

int ReplaceablePort::OutputPending() {
  const auto device = device_.load();
  return device != nullptr ? device->OutputPending() : 0;
}

void ReplaceablePort::DiscardOutput() {
  if (const auto device = device_.load()) device->DiscardOutput();
}

int ReplaceablePort::Handle() const {
  const auto device = device_.load();
  return device != nullptr ? device->Handle() : -1;
}

}  // namespace orderlink
