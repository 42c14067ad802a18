#include "app/TrayPolicy.h"

namespace orderlink {

TrayPolicy::Action TrayPolicy::Start(bool trayAvailable) {
  available_ = trayAvailable;
  return trayAvailable ? Action::AddIcon : Action::ShowWindow;
}

TrayPolicy::Action TrayPolicy::TrayChecked(bool trayAvailable, bool windowVisible) {
  const bool was = available_;
  available_ = trayAvailable;
  if (trayAvailable && !was) return Action::AddIcon;
  if (!trayAvailable && !windowVisible) return Action::ShowWindow;
  return Action::None;
}

bool TrayPolicy::Clicked(std::int64_t nowMs, std::int64_t doubleClickIntervalMs) {
  if (lastOpeningClickMs_ && nowMs - *lastOpeningClickMs_ < doubleClickIntervalMs) return false;
  lastOpeningClickMs_ = nowMs;
  return true;
}

}  // namespace orderlink
