#pragma once
// The serial port the workers keep for the life of the program, with the device
// behind it replaceable: when a USB adapter is pulled the device is dropped, and
// when it is plugged back the newly opened device takes its place, without any
// worker noticing more than writes that fail while no device is there.
//
// Threads: Attach, Detach and Close run on the window thread; every other method on
// any thread. The device is a shared_ptr behind a small mutex of its own, held only
// to copy or swap the pointer (never during a write): the window thread never takes
// the send thread's lock and never waits for a job, and a write in
// progress keeps its device alive until it returns (the descriptor is closed only
// when the last user lets go, so a reused descriptor number never receives the old
// device's bytes).

#include <memory>
#include <mutex>

#include "link/SerialPort.h"

namespace orderlink {

class ReplaceablePort final : public SerialPort {
 public:
  ReplaceablePort() = default;
  explicit ReplaceablePort(std::shared_ptr<SerialPort> device) : device_(std::move(device)) {}

  // Puts `device` behind the port (the previous one, if any, is dropped).
  void Attach(std::shared_ptr<SerialPort> device);
  // Drops the device: until the next Attach, writes fail and reads report a hang-up
  // at once.
  void Detach() { Attach(nullptr); }
  [[nodiscard]] bool HasDevice() const { return Current() != nullptr; }

  bool IsOpen() const override;
  bool Write(std::string_view bytes) override;
  [[nodiscard]] ReadOutcome Read(std::string& out, std::size_t maxBytes) override;
  [[nodiscard]] int OutputPending() override;
  [[nodiscard]] int Handle() const override;
  // Drops the device (it closes once no write holds it any more).
  void Close() override { Detach(); }

 private:
  [[nodiscard]] std::shared_ptr<SerialPort> Current() const;

  // A mutex rather than std::atomic<std::shared_ptr>: libstdc++ guards the latter
  // with a lock bit that ThreadSanitizer cannot see, so every swap looked like a race.
  mutable std::mutex mutex_;
  std::shared_ptr<SerialPort> device_;  // guarded by mutex_
};

}  // namespace orderlink
