#pragma once
// A MessageSink that records every message and notice instead of showing it. Any thread.

#include <mutex>
#include <string>
#include <vector>

#include "common/MessageSink.h"

namespace orderlink::test {

class RecordingMessages final : public MessageSink {
 public:
  void ShowMessage(const std::string& utf8Text) override {
    std::lock_guard lock(mutex_);
    messages_.push_back(utf8Text);
  }
  void ShowNotice(const std::string& utf8Text) override {
    std::lock_guard lock(mutex_);
    notices_.push_back(utf8Text);
  }
  [[nodiscard]] std::vector<std::string> Messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    messages_.clear();
    notices_.clear();
  }
  [[nodiscard]] std::vector<std::string> Notices() const {
    std::lock_guard lock(mutex_);
    return notices_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> messages_;
  std::vector<std::string> notices_;
};

}  // namespace orderlink::test
