#pragma once
// Where the application lives. With a tray in the desktop's notification area the
// icon is all the user sees until a double click; minimising goes back to the tray.
// Without one the main window must stay reachable: it is shown at start, is not
// hidden on minimise, and comes up when the tray goes away while it is hidden.

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

 private:
  bool available_ = false;
};

}  // namespace orderlink
