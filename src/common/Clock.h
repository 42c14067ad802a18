#pragma once
// Clock seam: steady time in milliseconds and pauses. Jobs and timers sleep through
// a Clock so that tests run them in virtual time. A pause takes an optional
// StopSignal and ends early when it is raised (shutdown of the link).

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

namespace orderlink {

// Raised once at shutdown; wakes every pause that waits on it.
class StopSignal {
 public:
  void Raise();
  [[nodiscard]] bool Raised() const { return raised_.load(); }
  // Waits up to `ms` on the steady clock; true when the signal was raised.
  bool WaitFor(std::int64_t ms);

 private:
  std::atomic<bool> raised_{false};
  std::mutex mutex_;
  std::condition_variable cv_;
};

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds on a monotonic clock; only differences mean anything.
  [[nodiscard]] virtual std::int64_t NowMs() const = 0;
  // Pauses `ms` milliseconds. Returns false when `stop` was raised before or
  // during the pause (the pause then ends early).
  virtual bool SleepMs(std::int64_t ms, StopSignal* stop = nullptr) = 0;
};

class SystemClock final : public Clock {
 public:
  [[nodiscard]] std::int64_t NowMs() const override;
  bool SleepMs(std::int64_t ms, StopSignal* stop = nullptr) override;
};

// Test clock: a pause advances virtual time at once and is recorded.
class VirtualClock final : public Clock {
 public:
  explicit VirtualClock(std::int64_t startMs = 1'000'000) : now_(startMs) {}
  [[nodiscard]] std::int64_t NowMs() const override { return now_.load(); }
  bool SleepMs(std::int64_t ms, StopSignal* stop = nullptr) override;
  void Advance(std::int64_t ms) { now_ += ms; }
  // Every pause taken so far, in order.
  [[nodiscard]] std::vector<std::int64_t> Sleeps() const;

 private:
  std::atomic<std::int64_t> now_;
  mutable std::mutex mutex_;
  std::vector<std::int64_t> sleeps_;
};

}  // namespace orderlink
