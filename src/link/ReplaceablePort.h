#pragma once
// The serial port the workers keep for the life of the program, with the device
// behind it replaceable: when a USB adapter is pulled the device is dropped, and
// when it is plugged back the newly opened device takes its place, without any
// worker noticing more than writes that fail while no device is there.
//
// Threads: Attach, Detach and Close run on the window thread; every other method on
// any thread. The device is a shared_ptr swapped atomically: the window thread
// never takes the send thread's lock and never waits for a job, and a write in
// progress keeps its device alive until it returns (the descriptor is closed only
// when the last user lets go, so a reused descriptor number never receives the old
// device's bytes).

#include <atomic>
#include <memory>

#include "link/SerialPort.h"

namespace orderlink {

class ReplaceablePort final : public SerialPort {
 public:
  ReplaceablePort() = default;
  explicit ReplaceablePort(std::shared_ptr<SerialPort> device) : device_(std::move(device)) {}

  // Puts `device` behind the port (the previous one, if any, is dropped).
  void Attach(std::shared_ptr<SerialPort> device) { device_.store(std::move(device)); }
  // Drops the device: until the next Attach, writes fail and reads report a hang-up
  // at once.
  void Detach() { device_.store(nullptr); }
  [[nodiscard]] bool HasDevice() const { return device_.load() != nullptr; }

  bool IsOpen() const override;
  bool Write(std::string_view bytes) override;
  [[nodiscard]] ReadOutcome Read(std::string& out, std::size_t maxBytes) override;
  [[nodiscard]] int OutputPending() override;
  void DiscardOutput() override;
  [[nodiscard]] int Handle() const override;
  // Drops the device (it closes once no write holds it any more).
  void Close() override { Detach(); }

 private:
  std::atomic<std::shared_ptr<SerialPort>> device_;
};

}  // namespace orderlink
