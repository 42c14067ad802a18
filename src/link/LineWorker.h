#pragma once
// Base of the two serial workers (receive and send thread): a lock, an activity
// stamp, and the hold-off through which a worker asks the poller for quiet.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

#include "common/Clock.h"

namespace orderlink {

class LineWorker {
 public:
  explicit LineWorker(Clock& clock);
  virtual ~LineWorker();
  LineWorker(const LineWorker&) = delete;
  LineWorker& operator=(const LineWorker&) = delete;

  void Lock() { mutex_.lock(); }
  void Unlock() { mutex_.unlock(); }
  std::mutex& Mutex() { return mutex_; }

  // Marks activity now. Any thread.
  void Touch() { lastActive_ = clock_.NowMs(); }
  // Milliseconds since the last Touch. Any thread.
  [[nodiscard]] std::int64_t IdleMilliseconds() const { return clock_.NowMs() - lastActive_; }

  // Quiet time (ms) this worker asks of the poller; read and written by every
  // thread without the lock. The poller counts it down to 0 and never below (see
  // CountDownHoldOff), so no count can wrap round to a long quiet.
  std::atomic<std::int32_t> HoldOff{0};
  // The poller's count-down: `periodMs` off, stopping at 0. A value a worker sets
  // meanwhile is never lost: the count is one compare-and-swap.
  void CountDownHoldOff(std::int32_t periodMs);

  // A pause of the protocol that ends early when the thread is told to end.
  // False when it ended early (or the thread was already told to end).
  bool Pause(std::int64_t ms) { return clock_.SleepMs(ms, &stop_); }
  [[nodiscard]] Clock& GetClock() { return clock_; }

  // Starts the thread running Execute(). Call once, after construction.
  void Start();
  // True once Start() was called. Any thread.
  [[nodiscard]] bool Started() const { return started_.load(); }
  // Tells the loop to end and wakes every wait and pause of the thread.
  void Terminate();
  [[nodiscard]] bool Terminated() const { return stop_.Raised(); }
  // Terminate and wait for the thread to end. Idempotent.
  void TerminateAndJoin();

 protected:
  virtual void Execute() = 0;
  // Called by Terminate so a derived loop can wake its own condition variable.
  virtual void WakeForTermination() {}
  StopSignal stop_;

 private:
  Clock& clock_;
  std::mutex mutex_;
  std::atomic<std::int64_t> lastActive_;
  std::atomic<bool> started_{false};
  std::thread thread_;
};

}  // namespace orderlink
