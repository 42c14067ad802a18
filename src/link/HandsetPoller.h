#pragma once
// The handset poller: polls the handsets round-robin on the send thread's ticks
// (SendThread::ScheduleTicks), only while both workers are idle and neither asks for
// quiet. The send thread runs a tick only when no job waits, so a poll never lands
// inside a job.
//
// Threads: Tick and PollHandset run on the send thread; Add, Start, Stop, the pauses
// and ClearHoldOff on the window thread. Stop (and the roll-call button's Start)
// return within one tick: they never wait for a job.

#include <array>
#include <atomic>
#include <cstdint>

#include "common/Clock.h"
#include "link/ReceiveThread.h"
#include "link/SendThread.h"

namespace orderlink {

class HandsetPoller {
 public:
  static constexpr int kMaxHandsets = 256;

  HandsetPoller(SendThread& sendThread, ReceiveThread& receiveThread);
  ~HandsetPoller();  // stops the ticks
  HandsetPoller(const HandsetPoller&) = delete;
  HandsetPoller& operator=(const HandsetPoller&) = delete;

  // Appends a handset number; false when the list already holds 256. Before Start.
  bool Add(int number);
  // Ticks at `rate` polls per second (period 1000 / rate ms) on the send thread, in
  // place of any earlier rate.
  void Start(int rate);
  // No more ticks (no-op when none run).
  void Stop();

  // Polling stops while any pause is held; each resume gives back one pause, and
  // never more than were taken (a stray resume is ignored, so the count is never
  // negative). Through LineGrant for the line's activities.
  void PausePolling() { ++pauses_; }
  void ResumePolling();
  // Both workers' HoldOff := 0, so polling may resume on the next tick.
  void ClearHoldOff();

  // One tick (called on the send thread; public for tests). Counts the hold-offs
  // down while either is positive, stopping at 0; polls nobody while the port still
  // has output to send.
  void Tick();

  [[nodiscard]] int Count() const { return count_; }
  [[nodiscard]] int Handset(int index) const { return handsets_[index]; }
  [[nodiscard]] int Pauses() const { return pauses_.load(); }
  [[nodiscard]] int Period() const { return period_.load(); }
  [[nodiscard]] bool Running() const { return running_; }

 private:
  SendThread& send_;
  ReceiveThread& rcv_;
  std::array<int, kMaxHandsets> handsets_{};
  int count_ = 0;
  int next_ = 0;
  std::atomic<int> period_{0};
  std::atomic<int> pauses_{0};
  bool running_ = false;  // window thread
};

// Writes one poll frame for handset `number` (on the send thread, between jobs).
void PollHandset(SendThread& thread, int number);

}  // namespace orderlink
