#pragma once
// SIGTERM and SIGINT close the application as the user would: the handler only
// writes a byte into a pipe, and the window thread runs `onSignal` when it reads it.

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace orderlink {

class ShutdownSignalsQt final : public QObject {
  Q_OBJECT

 public:
  // Installs the handlers. One instance per process.
  explicit ShutdownSignalsQt(std::function<void()> onSignal, QObject* parent = nullptr);
  ~ShutdownSignalsQt() override;  // restores the default handlers

 private:
  std::function<void()> onSignal_;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace orderlink
