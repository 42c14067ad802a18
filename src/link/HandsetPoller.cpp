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
  if (rate <= 0) return Stop();
  period_ = 1000 / rate;
  running_ = true;
  send_.ScheduleTicks(std::chrono::milliseconds(period_.load()), [this] { Tick(); });
}

void HandsetPoller::Stop() {
  if (!running_) return;
  running_ = false;
  send_.ScheduleTicks(std::chrono::milliseconds(0), nullptr);
}

void HandsetPoller::ResumePolling() {
  int held = pauses_.load();
  while (held > 0 && !pauses_.compare_exchange_weak(held, held - 1)) {
  }
}

void HandsetPoller::ClearHoldOff() {
  send_.HoldOff = 0;
  rcv_.HoldOff = 0;
}

void HandsetPoller::Tick() {
  const int period = period_.load();
  if (pauses_.load() > 0 || count_ == 0) return;
  if (send_.IdleMilliseconds() < period || rcv_.IdleMilliseconds() < period) return;
  if (send_.HoldOff.load() > 0 || rcv_.HoldOff.load() > 0) {
    send_.CountDownHoldOff(period);
    rcv_.CountDownHoldOff(period);
    return;
  }
  // Bytes of a job still going out (a slow or stuck adapter): they are not cut, and
  // polls do not pile up behind them; the handset keeps its turn.
  if (SerialPort* port = send_.Port(); port != nullptr && port->OutputPending() > 0) return;
  PollHandset(send_, handsets_[next_]);
  next_ = (next_ + 1) % count_;
}

void PollHandset(SendThread& thread, int number) {
  thread.WriteToPort(PollFrame(static_cast<std::uint8_t>(number)));
}

}  // namespace orderlink
