#include "link/HandsetPoller.h"

#include <chrono>

#include "link/FrameCodec.h"

namespace orderlink {

HandsetPoller::HandsetPoller(SendThread& sendThread, ReceiveThread& receiveThread)
    : send_(sendThread), rcv_(receiveThread) {}

HandsetPoller::~HandsetPoller() { Stop(); }

bool HandsetPoller::Add(int number) {
  if (count_ >= kMaxHandsets) return false;
  handsets_[count_++] = number;
  return true;
}

void HandsetPoller::Start(int rate) {
  Stop();
  if (rate <= 0) return;
  period_ = 1000 / rate;
  timerStop_ = std::make_unique<StopSignal>();
  timer_ = std::thread([this, period = period_.load()] { TimerLoop(period); });
}

void HandsetPoller::Stop() {
  if (!timer_.joinable()) return;
  timerStop_->Raise();
  timer_.join();
}

void HandsetPoller::ClearHoldOff() {
  send_.HoldOff = 0;
  rcv_.HoldOff = 0;
}

void HandsetPoller::TimerLoop(int period) {
  // Ticks at fixed instants of the steady clock; a late tick (a busy machine) does
  // not shift later ones.
  using std::chrono::steady_clock;
  const auto step = std::chrono::milliseconds(period);
  auto next = steady_clock::now() + step;
  while (true) {
    const auto wait =
        std::chrono::duration_cast<std::chrono::milliseconds>(next - steady_clock::now()).count();
    if (timerStop_->WaitFor(wait > 0 ? wait : 0)) return;
    Tick();
    next += step;
    if (next < steady_clock::now()) next = steady_clock::now();  // after a stall: no burst
  }
}

void HandsetPoller::Tick() {
  const int period = period_.load();
  if (pauseLevel_.load() < 0 || count_ == 0) return;
  // Read before the checks, so a job that starts or ends after them is noticed.
  const std::uint64_t jobActivity = send_.JobActivity();
  if (send_.IdleMilliseconds() < period || rcv_.IdleMilliseconds() < period) return;
  if (send_.HoldOff.load() > 0 || rcv_.HoldOff.load() > 0) {
    send_.CountDownHoldOff(period);
    rcv_.CountDownHoldOff(period);
    return;
  }
  if (PollHandset(send_, handsets_[next_], jobActivity)) next_ = (next_ + 1) % count_;
}

bool PollHandset(SendThread& thread, int number, std::uint64_t jobActivitySeen) {
  SerialPort* port = thread.Port();
  if (port == nullptr) return true;
  // Only jobs and the poll take this lock: taken means a job is on the line now.
  std::unique_lock lock(thread.Mutex(), std::try_to_lock);
  if (!lock.owns_lock() || thread.JobActivity() != jobActivitySeen) return false;
  if (port->OutputPending() > 0) {
    port->DiscardOutput();
    return true;
  }
  thread.WriteToPort(PollFrame(static_cast<std::uint8_t>(number)));
  return true;
}

}  // namespace orderlink
