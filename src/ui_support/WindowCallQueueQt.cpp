#include "ui_support/WindowCallQueueQt.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "common/Log.h"

namespace orderlink {

WindowCallQueueQt::WindowCallQueueQt(QObject* parent) : QObject(parent) {
  wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wakeFd_ < 0) {
    LogError("window calls: no eventfd (" + std::to_string(errno) +
             "); updates from workers are lost");
    return;
  }
  wake_ = std::make_unique<QSocketNotifier>(wakeFd_, QSocketNotifier::Read);
  connect(wake_.get(), &QSocketNotifier::activated, this, [this] { RunQueued(); });
}

WindowCallQueueQt::~WindowCallQueueQt() {
  wake_.reset();
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

void WindowCallQueueQt::Post(std::function<void()> call) {
  {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
  }
  const std::uint64_t one = 1;
  // Only fails when the counter is near overflow; the window is woken then anyway.
  [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
}

void WindowCallQueueQt::RunQueued() {
  std::uint64_t count = 0;
  [[maybe_unused]] const ssize_t drained = ::read(wakeFd_, &count, sizeof count);
  std::vector<std::function<void()>> due;
  {
    std::lock_guard lock(mutex_);
    due.swap(calls_);
  }
  for (auto& call : due) call();
}

}  // namespace orderlink
