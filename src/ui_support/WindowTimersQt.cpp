#include "ui_support/WindowTimersQt.h"

#include <QTimer>

namespace orderlink {

void WindowTimersQt::After(std::int64_t ms, std::function<void()> call) {
  QTimer::singleShot(static_cast<int>(ms), Qt::PreciseTimer, this, std::move(call));
}

}  // namespace orderlink
