#include "link/LineWorker.h"

namespace orderlink {

LineWorker::LineWorker(Clock& clock) : clock_(clock), lastActive_(clock.NowMs()) {}

LineWorker::~LineWorker() {
  // Derived classes join in their own destructors; this is the last safety net.
  if (thread_.joinable()) {
    Terminate();
    thread_.join();
  }
}

void LineWorker::Start() {
  thread_ = std::thread([this] { Execute(); });
  started_ = true;
}

void LineWorker::CountDownHoldOff(std::int32_t periodMs) {
  std::int32_t value = HoldOff.load();
  while (!HoldOff.compare_exchange_weak(value, value > periodMs ? value - periodMs : 0)) {
  }
}

void LineWorker::Terminate() {
  stop_.Raise();
  WakeForTermination();
}

void LineWorker::TerminateAndJoin() {
  Terminate();
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

}  // namespace orderlink
