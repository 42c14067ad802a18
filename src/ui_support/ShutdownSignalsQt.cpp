#include "ui_support/ShutdownSignalsQt.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace orderlink {

namespace {

int signalPipe[2] = {-1, -1};

extern "C" void OnShutdownSignal(int) {
  const int saved = errno;
  const char byte = 1;
  // A full pipe already holds a wake-up: nothing is lost when this write fails.
  [[maybe_unused]] const ssize_t written = write(signalPipe[1], &byte, 1);
  errno = saved;
}

void SetHandler(void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
}

}  // namespace

ShutdownSignalsQt::ShutdownSignalsQt(std::function<void()> onSignal, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal)) {
  if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  notifier_ = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
    char bytes[16];
    while (read(signalPipe[0], bytes, sizeof bytes) > 0) {
    }
    if (onSignal_) onSignal_();
  });
  SetHandler(OnShutdownSignal);
}

ShutdownSignalsQt::~ShutdownSignalsQt() {
  if (!notifier_) return;
  SetHandler(SIG_DFL);
  notifier_.reset();
  close(signalPipe[0]);
  close(signalPipe[1]);
  signalPipe[0] = signalPipe[1] = -1;
}

}  // namespace orderlink
