#pragma once
// The handset poller: polls the handsets round-robin from a periodic timer thread,
// only while both workers are idle and neither asks for quiet.

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

#include "common/Clock.h"
#include "link/TRcvThread.h"
#include "link/TSendThread.h"

namespace orderlink {

class TComCtr {
 public:
  static constexpr int kMaxHandsets = 256;

  TComCtr(TSendThread& sendThread, TRcvThread& rcvThread);
  ~TComCtr();  // stops the timer thread and joins it
  TComCtr(const TComCtr&) = delete;
  TComCtr& operator=(const TComCtr&) = delete;

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

  // One timer tick (called by the timer thread; public for tests).
  void Tick();

  [[nodiscard]] int Count() const { return count_; }
  [[nodiscard]] int Handset(int index) const { return handsets_[index]; }
  [[nodiscard]] int PauseLevel() const { return pauseLevel_.load(); }
  [[nodiscard]] int Period() const { return period_.load(); }
  [[nodiscard]] bool Running() const { return timer_.joinable(); }

 private:
  void TimerLoop(int period);

  TSendThread& send_;
  TRcvThread& rcv_;
  std::array<int, kMaxHandsets> handsets_{};
  int count_ = 0;
  int next_ = 0;
  std::atomic<int> period_{0};
  std::atomic<int> pauseLevel_{0};
  std::thread timer_;
  std::unique_ptr<StopSignal> timerStop_;
};

// Writes one poll frame under the send thread's lock; when output is still
// pending it is discarded instead and nothing is polled.
void PollHandset(TSendThread& thread, int number);

}  // namespace orderlink
