#pragma once
// Holds a started send thread busy with one job
// until the test releases it: a stand-in for a long job on the line, such as a
// minute-long download broadcast.

#include <chrono>
#include <functional>
#include <future>
#include <thread>

#include "link/SendThread.h"

namespace orderlink::test {

class LineHolder {
 public:
  explicit LineHolder(SendThread& send) : send_(send) {}
  ~LineHolder() { Release(); }
  LineHolder(const LineHolder&) = delete;
  LineHolder& operator=(const LineHolder&) = delete;

  // Posts the holding job and returns once it runs. False if it was refused.
  bool Hold() {
    const auto hold = [this](SendThread&) {
      started_.set_value();
      released_.wait();
    };
    if (!send_.Post({"holding job", 0, hold})) return false;
    started_.get_future().wait();
    return true;
  }
  void Release() {
    if (releasedOnce_) return;
    releasedOnce_ = true;
    release_.set_value();
  }
  // Runs `call` on another thread; true when it returned while the line was still
  // held. Otherwise the job is released and the thread told to end (which frees a
  // poster left waiting), so a test of a waiting caller fails instead of hanging.
  bool ReturnsWhileHeld(const std::function<void()>& call) {
    auto done = std::async(std::launch::async, call);
    if (done.wait_for(std::chrono::seconds(5)) == std::future_status::ready) return true;
    Release();
    send_.Terminate();
    done.wait();
    return false;
  }

 private:
  SendThread& send_;
  std::promise<void> started_;
  std::promise<void> release_;
  std::shared_future<void> released_ = release_.get_future().share();
  bool releasedOnce_ = false;
};

// Waits (real time, bounded) until the started send thread has run every posted job.
inline bool WaitIdle(const SendThread& thread) {
  for (int i = 0; i < 5000 && !thread.Idle(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return thread.Idle();
}

}  // namespace orderlink::test
