#pragma once
// TrayIconQt: the application's icon in the desktop's notification area. A click
// (single or double, see TrayPolicy) brings up the main window and runs
// `onDoubleClick` (the login form's timer).
// The tray is looked at every two seconds: an icon is put back when the tray
// restarts, and where there is no tray the main window stays reachable (TrayPolicy).

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>
#include <functional>
#include <string>

#include "app/MainWindow.h"
#include "app/TrayPolicy.h"

namespace orderlink {

class TrayIconQt final : public QObject {
  Q_OBJECT

 public:
  explicit TrayIconQt(MainWindow& window, QObject* parent = nullptr);

  // Puts the icon into the tray, or shows the window where there is no tray.
  void Start();
  // A double click on the icon, or the window shown for lack of a tray.
  std::function<void()> onDoubleClick;

  // The tool tip ("无线点菜机管理软件" at start); the download shows its progress
  // here. Any thread: from another thread the change is queued.
  void SetToolTip(const std::string& utf8Text);

  // Opens the main window (what a click on the icon does).
  void OpenWindow();
  // The tray reported a click or another activation of the icon.
  void IconActivated(QSystemTrayIcon::ActivationReason reason);
  // Looks at the tray again (the timer's tick).
  void CheckTray();

  QSystemTrayIcon* trayIcon;

 private:
  void Apply(TrayPolicy::Action action);

  QPointer<MainWindow> window_;
  TrayPolicy policy_;
  QTimer trayCheck_;
  QElapsedTimer sinceStart_;  // the steady clock of the clicks
};

}  // namespace orderlink
