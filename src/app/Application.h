#pragma once
// The composition root: builds the process from its parts, runs start-up, the event
// loop and shutdown. Every subsystem is created and connected in BuildWindows().

#include <QObject>
#include <QSocketNotifier>
#include <memory>
#include <string>
#include <vector>

#include "access/LoginForm.h"
#include "access/LoginSession.h"
#include "access/PasswordForm.h"
#include "app/AppCore.h"
#include "app/MainWindow.h"
#include "app/SessionSidecar.h"
#include "app/TrayIconQt.h"
#include "app/UdpHostLink.h"
#include "app/UiControl.h"
#include "common/Clock.h"
#include "common/HandsetListView.h"
#include "download/DownloadController.h"
#include "download/DownloadPage.h"
#include "link/DiscardReasons.h"
#include "link/FrameTrace.h"
#include "linktest/TestPage.h"
#include "monitor/MonitorPage.h"
#include "service/RequestService.h"
#include "service/RollCallButton.h"
#include "station/StationPage.h"
#include "ui_support/MessageBoxQt.h"
#include "ui_support/ShutdownSignalsQt.h"
#include "ui_support/WindowCallQueueQt.h"
#include "ui_support/WindowTimersQt.h"

namespace orderlink {

class Application final : public QObject {
 public:
  Application();
  ~Application() override;

  // Start-up, then the event loop until shutdown. `args` without the program name.
  int Run(const std::vector<std::string>& args);
  // The whole shutdown: stop watching the port and the host, AppCore::Shutdown, end
  // the event loop. Every way of closing comes here; later calls do nothing harmful.
  void Quit();

 private:
  void BuildWindows();
  // Start-up's log lines: the ordering software's port or DEBUG; the handsets polled.
  void LogHostLink();
  void LogPolledHandsets();
  void ConnectService();
  void ConnectLinkTest();
  void ConnectDownload();
  void WatchHost();
  // Watches the port's `handle` (-1: stops watching). AppCore::watchPort.
  void WatchPort(int handle);
  // Ends the work that needs the serial line, as its stop buttons do. AppCore::lineLost.
  void StopLineWork();
  void StopLink();

  // Declared in the order of construction; destroyed in reverse, so the windows go
  // before the workers they may point to.
  SystemClock clock_;
  MessageBoxQt messages_;
  // The frame trace, or null; ended (its file complete) after the port that feeds it.
  std::shared_ptr<FrameTrace> trace_;
  // The trace's sidecar, or null; outlives the host link that reports to it.
  std::unique_ptr<SessionSidecar> sidecar_;
  std::unique_ptr<UiControl> uiControl_;  // ORDERLINK_UI_CONTROL: scripted user actions
  UdpHostLink host_;
  WindowTimersQt lineTimers_;  // reopening the port; dropped after core_
  AppCore core_;
  std::unique_ptr<QSocketNotifier> hostWatch_;
  std::unique_ptr<QSocketNotifier> portWatch_;
  std::unique_ptr<ShutdownSignalsQt> signals_;

  std::unique_ptr<MainWindow> mainWindow_;
  MonitorPage* monitor_ = nullptr;  // owned by mainWindow_
  std::unique_ptr<LoginSession> loginSession_;
  std::unique_ptr<PasswordForm> passwordForm_;
  std::unique_ptr<LoginForm> loginForm_;
  std::unique_ptr<TrayIconQt> tray_;
  std::vector<HandsetListView*> handsetLists_;

  // Logins seen by request dispatch reach the monitor list.
  struct MonitorMarker final : SwitchOnMarker {
    MonitorPage* page = nullptr;
    void MarkSwitchedOn(const std::string& text) override { page->MarkSwitchedOn(text); }
  };
  MonitorMarker monitorMarker_;
  WindowTimersQt serviceTimers_;    // the request service's delayed steps; dropped before core_
  WindowCallQueueQt serviceCalls_;  // the receive thread's calls to the request service
  std::unique_ptr<RequestService> service_;
  std::unique_ptr<RollCallButton> rollCall_;
  TestPage* testPage_ = nullptr;          // owned by mainWindow_
  StationPage* stationPage_ = nullptr;    // owned by mainWindow_
  DownloadPage* downloadPage_ = nullptr;  // owned by mainWindow_
  std::unique_ptr<DownloadController> download_;
  WindowTimersQt reportTimers_;
  std::unique_ptr<DiscardReport> discardReport_;  // reads the receive thread, shows on monitor_
};

}  // namespace orderlink
