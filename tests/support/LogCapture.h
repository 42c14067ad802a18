#pragma once
// Collects the log lines written while it lives (through the log's file sink), for
// tests of failures that the program only logs. One at a time per process.

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "common/Log.h"

namespace orderlink::test {

class LogCapture {
 public:
  LogCapture() {
    SetLogFileSink([this](std::string_view line) {
      std::lock_guard lock(mutex_);
      lines_.emplace_back(line);
    });
  }
  ~LogCapture() { SetLogFileSink({}); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // The captured lines that hold `text`.
  [[nodiscard]] std::vector<std::string> Containing(std::string_view text) const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const auto& line : lines_) {
      if (line.find(text) != std::string::npos) out.push_back(line);
    }
    return out;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

}  // namespace orderlink::test
