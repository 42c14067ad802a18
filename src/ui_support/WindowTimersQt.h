#pragma once
// WindowTimers on Qt single-shot timers of the window thread.

#include <QObject>

#include "common/WindowTimers.h"

namespace orderlink {

class WindowTimersQt final : public QObject, public WindowTimers {
 public:
  explicit WindowTimersQt(QObject* parent = nullptr) : QObject(parent) {}
  // Pending calls are dropped when this object is destroyed.
  void After(std::int64_t ms, std::function<void()> call) override;
};

}  // namespace orderlink
