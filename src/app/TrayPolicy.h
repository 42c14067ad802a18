#pragma once
// Where the application lives. With a tray in the desktop's notification area the
// icon is all the user sees until a double click; minimising goes back to the tray.
// Without one the main window must stay reachable: it is shown at start, is not
// hidden on minimise, and comes up when the tray goes away while it is hidden.
//
// A click on the icon opens the window. Single clicks count: a tray that is a
// StatusNotifierItem host (KDE Plasma, Ubuntu's GNOME) reports nothing else, so a
// program waiting for a double click could never be reached there. Where the tray
// reports both, a double click arrives as a single click followed by a double one;
// clicks within the double-click interval of the click that opened the window
// belong to that gesture and open nothing more.

#include <cstdint>
#include <optional>

namespace orderlink {

class TrayPolicy {
 public:
  enum class Action {
    None,
    AddIcon,     // put the icon (back) into the tray
    ShowWindow,  // show the main window as a double click on the icon would
  };

  // At start.
  Action Start(bool trayAvailable);
  // The tray was looked at again (it may have restarted or gone away).
  Action TrayChecked(bool trayAvailable, bool windowVisible);
  // Whether minimising hides the window (leaving the tray icon).
  [[nodiscard]] bool MinimiseHides() const { return available_; }
  // A single or double click on the icon at `nowMs` (steady clock). True when it
  // opens the window.
  [[nodiscard]] bool Clicked(std::int64_t nowMs, std::int64_t doubleClickIntervalMs);

 private:
  bool available_ = false;
  std::optional<std::int64_t> lastOpeningClickMs_;
};

}  // namespace orderlink
