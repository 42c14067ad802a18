#include "link/TMyThread.h"

namespace orderlink {

TMyThread::TMyThread(Clock& clock) : clock_(clock), lastActive_(clock.NowMs()) {}

TMyThread::~TMyThread() {
  // Derived classes join in their own destructors; this is the last safety net.
  if (thread_.joinable()) {
    Terminate();
    thread_.join();
  }
}

void TMyThread::Start() {
  thread_ = std::thread([this] { Execute(); });
  started_ = true;
}

void TMyThread::CountDownHoldOff(std::int32_t periodMs) {
  std::int32_t value = HoldOff.load();
  while (!HoldOff.compare_exchange_weak(value, value > periodMs ? value - periodMs : 0)) {
  }
}

void TMyThread::Terminate() {
  stop_.Raise();
  WakeForTermination();
}

void TMyThread::TerminateAndJoin() {
  Terminate();
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

}  // namespace orderlink
