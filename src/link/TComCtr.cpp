#include "link/TComCtr.h"

#include <chrono>

#include "link/FrameCodec.h"

namespace orderlink {

TComCtr::TComCtr(TSendThread& sendThread, TRcvThread& rcvThread)
    : send_(sendThread), rcv_(rcvThread) {}

TComCtr::~TComCtr() { Stop(); }

bool TComCtr::Add(int number) {
  if (count_ >= kMaxHandsets) return false;
  handsets_[count_++] = number;
  return true;
}

void TComCtr::Start(int rate) {
  Stop();
  if (rate <= 0) return;
  period_ = 1000 / rate;
  timerStop_ = std::make_unique<StopSignal>();
  timer_ = std::thread([this, period = period_.load()] { TimerLoop(period); });
}

void TComCtr::Stop() {
  if (!timer_.joinable()) return;
  timerStop_->Raise();
  timer_.join();
}

void TComCtr::ClearHoldOff() {
  send_.HoldOff = 0;
  rcv_.HoldOff = 0;
}

void TComCtr::TimerLoop(int period) {
  // Ticks at fixed instants of the steady clock; a tick delayed by a running job
  // (PollHandset waits for the send thread's lock) does not shift later ones.
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

void TComCtr::Tick() {
  const int period = period_.load();
  if (pauseLevel_.load() < 0 || count_ == 0) return;
  if (send_.IdleMilliseconds() < period || rcv_.IdleMilliseconds() < period) return;
  if (send_.HoldOff.load() > 0 || rcv_.HoldOff.load() > 0) {
    send_.HoldOff -= period;
    rcv_.HoldOff -= period;
    return;
  }
  PollHandset(send_, handsets_[next_]);
  next_ = (next_ + 1) % count_;
}

void PollHandset(TSendThread& thread, int number) {
  SerialPort* port = thread.Port();
  if (port == nullptr) return;
  if (port->OutputPending() > 0) {
    port->DiscardOutput();
    return;
  }
  std::lock_guard lock(thread.Mutex());
  thread.WriteToPort(PollFrame(static_cast<std::uint8_t>(number)));
}

}  // namespace orderlink
