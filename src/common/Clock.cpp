#include "common/Clock.h"

#include <chrono>
#include <thread>

namespace orderlink {

void StopSignal::Raise() {
  {
    std::lock_guard lock(mutex_);
    raised_ = true;
  }
  cv_.notify_all();
}

bool StopSignal::WaitFor(std::int64_t ms) {
  std::unique_lock lock(mutex_);
  return cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return raised_.load(); });
}

std::int64_t SystemClock::NowMs() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool SystemClock::SleepMs(std::int64_t ms, StopSignal* stop) {
  if (stop == nullptr) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return true;
  }
  if (stop->Raised()) return false;
  return !stop->WaitFor(ms);
}

bool VirtualClock::SleepMs(std::int64_t ms, StopSignal* stop) {
  if (stop != nullptr && stop->Raised()) return false;
  {
    std::lock_guard lock(mutex_);
    sleeps_.push_back(ms);
  }
  now_ += ms;
  return true;
}

std::vector<std::int64_t> VirtualClock::Sleeps() const {
  std::lock_guard lock(mutex_);
  return sleeps_;
}

}  // namespace orderlink
