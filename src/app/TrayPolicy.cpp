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

}  // namespace orderlink
