#include "app/ApplicationQt.h"

#include <QApplication>

namespace orderlink {

Application::Application() : core_(clock_, messages_, host_) {}

// Whatever ended the event loop, the workers end before the windows their jobs and
// hand-overs point into.
Application::~Application() { StopLink(); }

int Application::Run(const std::vector<std::string>& args) {
  signals_ = std::make_unique<ShutdownSignalsQt>([this] { FormCloseQuery(); });
  core_.closeQuery = [this] { FormCloseQuery(); };
  WatchHost();
  const bool linked = core_.OpenLink(args, ResolveAppDir());
  BuildWindows();
  if (linked && core_.FillAndStart(handsetLists_)) WatchPort();
  if (!core_.ShutDown()) tray_->Start();
  return QApplication::exec();
}

// Subsystems are created here, after the link is open (the workers exist but do not
// run yet; each pointer may be null) and before the handset lists are filled:
//   - a page takes core_.SendThread(), core_.ComCtr(), core_.RcvThread(), host_,
//     core_.Txt(), messages_, clock_ and goes into MainPages;
//   - jobs are registered on core_.SendThread() (when not null);
//   - the receive thread's hand-overs are core_.Handlers().testAnswer,
//     downloadResult, resendRequest, timeQuery, request, discardedPacket;
//   - the ordering software's notifications are core_.hostNotify.shortMessage,
//     reply, download (login is the login form's);
//   - a page implementing HandsetListView is appended to handsetLists_.
void Application::BuildWindows() {
  monitor_ = new MonitorPage;
  monitor_->SetPortName(QString::fromStdString(core_.PortName()));
  handsetLists_.push_back(monitor_);

  MainPages pages;
  pages.monitor = monitor_;
  pages.test = new QWidget;
  pages.download = new QWidget;
  pages.station = new QWidget;
  mainForm_ = std::make_unique<TMainForm>(pages, messages_);
  mainForm_->onShutdown = [this] { FormCloseQuery(); };
  messages_.SetWindow(mainForm_.get());

  form1_ = std::make_unique<TForm1>(core_.Txt(), messages_);
  loginSession_ = std::make_unique<LoginSession>(core_.Txt(), host_, core_.DebugMode());
  form2_ = std::make_unique<TForm2>(*loginSession_, messages_, mainForm_.get(),
                                    [this] { FormCloseQuery(); });
  core_.hostNotify.login = [this] { form2_->LoginResult(); };

  tray_ = std::make_unique<TrayIconQt>(*mainForm_);
  tray_->onDoubleClick = [this] { form2_->Timer1->start(); };
}

void Application::WatchHost() {
  if (host_.Handle() < 0) return;
  hostWatch_ = std::make_unique<QSocketNotifier>(host_.Handle(), QSocketNotifier::Read);
  connect(hostWatch_.get(), &QSocketNotifier::activated, this, [this] { core_.HostReadable(); });
}

void Application::WatchPort() {
  SerialPort* port = core_.Port();
  if (port == nullptr || port->Handle() < 0) return;
  portWatch_ = std::make_unique<QSocketNotifier>(port->Handle(), QSocketNotifier::Read);
  connect(portWatch_.get(), &QSocketNotifier::activated, this, [this] {
    // A hang-up is handled once: the handle would stay readable for ever.
    if (!core_.MSComm1Comm()) portWatch_->setEnabled(false);
  });
}

void Application::StopLink() {
  // Stop watching first: the port's handle is closed by the shutdown, and
  // notifications that arrive from now on are not routed.
  if (portWatch_) portWatch_->setEnabled(false);
  if (hostWatch_) hostWatch_->setEnabled(false);
  core_.Shutdown();
}

void Application::FormCloseQuery() {
  StopLink();
  QMetaObject::invokeMethod(this, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

int RunApplication(int argc, char** argv) {
  QApplication app(argc, argv);
  // Closing the login form or hiding the window to the tray must not end the program.
  QApplication::setQuitOnLastWindowClosed(false);
  const std::vector<std::string> args(argv + 1, argv + argc);
  Application application;
  return application.Run(args);
}

}  // namespace orderlink
