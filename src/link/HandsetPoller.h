#pragma once
// The handset poller: polls the handsets round-robin from a periodic timer thread,
// only while both workers are idle and neither asks for quiet.
//
// Threads: Tick and PollHandset run on the timer thread; Add, Start, Stop, the
// pauses and ClearHoldOff on the window thread. The timer thread never waits for a
// job: a tick that finds the send thread's lock taken skips its poll, so Stop (and
// the roll-call button's Start) return within one tick.

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

#include "common/Clock.h"
#include "link/ReceiveThread.h"
#include "link/SendThread.h"

namespace orderlink {

class HandsetPoller {
 public:
  static constexpr int kMaxHandsets = 256;

  HandsetPoller(SendThread& sendThread, ReceiveThread& receiveThread);
  ~HandsetPoller();  // stops the timer thread and joins it
  HandsetPoller(const HandsetPoller&) = delete;
  HandsetPoller& operator=(const HandsetPoller&) = delete;

  // Appends a handset number; false when the list already holds 256. Before Start.
  bool Add(int number);
  // Starts the periodic timer at `rate` polls per second (period 1000 / rate ms) on
  // a thread of its own that ticks on the steady clock. A running timer is stopped
  // first: never two tickers.
  void Start(int rate);
  // Stops the timer thread (no-op when none runs).
  void Stop();

  void PausePolling() { --pauseLevel_; }
  void ResumePolling() { ++pauseLevel_; }
  // Both workers' HoldOff := 0, so polling may resume on the next tick.
  void ClearHoldOff();

  // One timer tick (called by the timer thread; public for tests). Counts the
  // hold-offs down while either is positive, stopping at 0.
  void Tick();

  [[nodiscard]] int Count() const { return count_; }
  [[nodiscard]] int Handset(int index) const { return handsets_[index]; }
  [[nodiscard]] int PauseLevel() const { return pauseLevel_.load(); }
  [[nodiscard]] int Period() const { return period_.load(); }
  [[nodiscard]] bool Running() const { return timer_.joinable(); }

 private:
  void TimerLoop(int period);

  SendThread& send_;
  ReceiveThread& rcv_;
  std::array<int, kMaxHandsets> handsets_{};
  int count_ = 0;
  int next_ = 0;
  std::atomic<int> period_{0};
  std::atomic<int> pauseLevel_{0};
  std::thread timer_;
  std::unique_ptr<StopSignal> timerStop_;
};

// Writes one poll frame under the send thread's lock; when output is still
// pending it is discarded instead and nothing is polled (both under the lock, so a
// job's frame that has just started is never discarded). `jobActivitySeen` is the
// send thread's JobActivity() read before the tick's idle and hold-off checks: when
// a job has run since, or runs now, the tick is skipped so the job's hold-off is
// kept. False when skipped: the handset keeps its turn.
[[nodiscard]] bool PollHandset(SendThread& thread, int number, std::uint64_t jobActivitySeen);

}  // namespace orderlink
