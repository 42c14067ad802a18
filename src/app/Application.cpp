#include "app/Application.h"

#include <QApplication>
#include <QPushButton>
#include <cstdio>

#include "app/Settings.h"
#include "common/Log.h"
#include "link/TracingPort.h"
#include "ui_support/StallProbeQt.h"

namespace orderlink {

Application::Application() : core_(clock_, messages_, host_, lineTimers_) {}

// Whatever ended the event loop, the workers end before the windows their jobs and
// hand-overs point into.
Application::~Application() { StopLink(); }

int Application::Run(const std::vector<std::string>& args) {
  signals_ = std::make_unique<ShutdownSignalsQt>([this] { Quit(); });
  core_.quitApplication = [this] { Quit(); };
  core_.watchPort = [this](int handle) { WatchPort(handle); };
  core_.lineLost = [this] {
    if (sidecar_) sidecar_->OnLine(false);
    StopLineWork();
  };
  core_.lineBack = [this] {
    if (sidecar_) sidecar_->OnLine(true);
  };
  WatchHost();
  // --trace FILE (or Trace= of the settings file): every device the port opens is traced.
  if (const auto& traceFile = ProcessSettings().traceFile) {
    trace_ = StartFrameTrace(traceFile->string(), ProcessSettings().traceMaxBytes, messages_);
    if (trace_) {
      core_.WrapDevices([trace = trace_](std::unique_ptr<SerialPort> device) {
        return std::make_unique<TracingPort>(std::move(device), trace);
      });
      // Each drop of the parser is marked after the chunk that caused it.
      core_.Handlers().discard = [trace = trace_](DiscardReason reason) {
        trace->Mark("discarded: " + std::string(DiscardReasonText(reason)));
      };
      // The ordering software's side of the session, for a replay: TRACE.sidecar.
      sidecar_ =
          SessionSidecar::Start(traceFile->string() + ".sidecar", ResolveAppDir(), host_.OwnPort());
      if (sidecar_) {
        host_.observer = [sidecar = sidecar_.get()](bool sent, const HostMessage& message) {
          sidecar->OnHostMessage(sent, message);
        };
      }
    }
  }
  const bool linked = core_.OpenLink(args, ResolveAppDir());
  if (linked) LogHostLink();
  BuildWindows();
  uiControl_ = UiControl::FromEnvironment([this](const std::string& action) {
    if (sidecar_) sidecar_->OnUserAction(action);
  });
  if (linked && core_.FillAndStart(handsetLists_)) {
    LogPolledHandsets();
    core_.WatchPort();
  }
  if (!core_.ShutDown()) tray_->Start();
  const auto stallProbe = StallProbeQt::FromEnvironment();  // ORDERLINK_STALL_PROBE=1
  return QApplication::exec();
}

// Subsystems are created here, after the link is open (the workers exist but do not
// run yet; each pointer may be null) and before the handset lists are filled:
//   - a page takes core_.Sender(), core_.Poller(), core_.Receiver(), host_,
//     core_.Txt(), messages_, clock_ and goes into MainPages;
//   - the request service is connected to core_.Sender() (when not null);
//   - the receive thread's hand-overs are core_.Handlers().testAnswer,
//     downloadResult, resendRequest, timeQuery, request, discardedPacket;
//   - the ordering software's notifications are core_.hostNotify.shortMessage,
//     reply, download (login is the login form's);
//   - a page implementing HandsetListView is appended to handsetLists_.
void Application::BuildWindows() {
  monitor_ = new MonitorPage;
  monitor_->SetPortName(QString::fromStdString(core_.PortName()));
  handsetLists_.push_back(monitor_);
  discardReport_ = std::make_unique<DiscardReport>(
      reportTimers_,
      [this] {
        const ReceiveThread* receiver = core_.Receiver();
        return receiver != nullptr ? receiver->Discards().Read() : DiscardCounts{};
      },
      [this](const DiscardCounts& totals) { monitor_->ShowDiscards(totals); });

  SendThread* send = core_.Sender();
  HandsetPoller* poller = core_.Poller();
  testPage_ = new TestPage(messages_, send, poller, core_.Line());
  stationPage_ = new StationPage(messages_, send, poller, testPage_->Logic().Tree(), core_.Line());
  downloadPage_ = new DownloadPage([this] { passwordForm_->exec(); }, core_.Line());
  handsetLists_.push_back(testPage_);
  handsetLists_.push_back(downloadPage_);

  MainPages pages;
  pages.monitor = monitor_;
  pages.test = testPage_;
  pages.download = downloadPage_;
  pages.station = stationPage_;
  mainWindow_ = std::make_unique<MainWindow>(pages, messages_, core_.Line());
  mainWindow_->onShutdown = [this] { Quit(); };
  messages_.SetWindow(mainWindow_.get());

  passwordForm_ = std::make_unique<PasswordForm>(core_.Txt(), messages_);
  loginSession_ = std::make_unique<LoginSession>(core_.Txt(), host_, core_.DebugMode());
  loginForm_ =
      std::make_unique<LoginForm>(*loginSession_, messages_, mainWindow_.get(), [this] { Quit(); });
  core_.hostNotify.login = [this] { loginForm_->LoginResult(); };

  tray_ = std::make_unique<TrayIconQt>(*mainWindow_);
  messages_.SetNoticeTargets(mainWindow_->statusBar, tray_->trayIcon);
  tray_->onDoubleClick = [this] { loginForm_->promptTimer->start(); };

  ConnectService();
  ConnectLinkTest();
  ConnectDownload();
}

void Application::LogHostLink() {
  const std::string own = std::to_string(host_.OwnPort());
  if (core_.DebugMode()) {
    LogInfo("DEBUG: no ordering software; the notifications go to the program's own port " + own +
            " on 127.0.0.1");
  } else {
    LogInfo("ordering software at 127.0.0.1 port " + std::to_string(core_.HostWindow()) +
            "; announced the program's own port " + own);
  }
}

void Application::LogPolledHandsets() {
  const HandsetPoller* poller = core_.Poller();
  if (poller == nullptr) return;
  if (poller->Count() == 0) {
    LogWarning("点菜机.txt names no handset of this base station: nothing is polled");
    return;
  }
  std::string numbers;
  for (int i = 0; i < poller->Count(); ++i) {
    char text[8];
    std::snprintf(text, sizeof text, "%03d", poller->Handset(i));
    numbers += (i == 0 ? "" : " ") + std::string(text);
  }
  LogInfo("polling " + std::to_string(poller->Count()) + " handsets, " +
          std::to_string(kPollsPerSecond) + " polls a second: " + numbers);
}

void Application::ConnectService() {
  monitorMarker_.page = monitor_;
  service_ = std::make_unique<RequestService>(
      core_.Txt(), host_, messages_, serviceTimers_, &monitorMarker_, clock_,
      [this](std::function<void()> call) { serviceCalls_.Post(std::move(call)); });
  handsetLists_.push_back(service_.get());
  if (SendThread* send = core_.Sender()) service_->ConnectLine(*send, core_.Line());
  if (ReceiveThread* receiver = core_.Receiver()) {
    core_.Handlers().request = [this, receiver](const Message& m) {
      service_->OnRequest(m, *receiver);
    };
  }
  core_.Handlers().timeQuery = [this](const Message& m) { service_->OnTimeQuery(m); };
  core_.hostNotify.reply = [this] { service_->OnHostReply(core_.Sender(), core_.Poller()); };
  core_.hostNotify.shortMessage = [this] { service_->OnHostShortMessage(core_.Sender()); };

  // The hidden roll-call button.
  rollCall_ = std::make_unique<RollCallButton>(core_.Poller());
  auto* rollCallButton =
      new QPushButton(QString::fromStdString(rollCall_->Caption()), mainWindow_.get());
  rollCallButton->setObjectName("rollCallButton");
  rollCallButton->hide();
  connect(rollCallButton, &QPushButton::clicked, this, [this, rollCallButton] {
    rollCallButton->setText(QString::fromStdString(rollCall_->Click()));
  });
}

void Application::ConnectLinkTest() {
  core_.Handlers().testAnswer = [this](const Message& m) {
    testPage_->Logic().EvaluateTestAnswer(m);
  };
}

void Application::ConnectDownload() {
  download_ = std::make_unique<DownloadController>(core_.Txt(), downloadPage_->Timers(), host_,
                                                   messages_, *downloadPage_, core_.Sender(),
                                                   core_.Poller(), core_.Line());
  downloadPage_->SetController(download_.get());
  core_.hostNotify.download = [this] { download_->OnDownloadGoAhead(); };
  if (ReceiveThread* receiver = core_.Receiver()) {
    core_.Handlers().downloadResult = [this, receiver](const Message& m) {
      download_->OnDownloadResult(m, *receiver);
    };
    core_.Handlers().resendRequest = [this, receiver](const Message& m) {
      download_->OnResendRequest(m, *receiver);
    };
  }
  core_.Handlers().discardedPacket = [this] { download_->OnDiscardedPacket(); };
  // The tray shows the progress while a download runs.
  connect(downloadPage_, &DownloadPage::TrayProgressChanged, this, [this](const QString& line) {
    std::string tip = "无线点菜机管理软件";
    if (!line.isEmpty()) tip += "\n" + line.toStdString();
    tray_->SetToolTip(tip);
  });
}

void Application::WatchHost() {
  if (host_.Handle() < 0) return;
  hostWatch_ = std::make_unique<QSocketNotifier>(host_.Handle(), QSocketNotifier::Read);
  connect(hostWatch_.get(), &QSocketNotifier::activated, this, [this] { core_.HostReadable(); });
}

void Application::WatchPort(int handle) {
  if (handle < 0) {
    // Only switched off: this may run inside the watch's own signal.
    if (portWatch_) portWatch_->setEnabled(false);
    return;
  }
  if (portWatch_ && portWatch_->socket() == handle) {
    portWatch_->setEnabled(true);
    return;
  }
  portWatch_ = std::make_unique<QSocketNotifier>(handle, QSocketNotifier::Read);
  connect(portWatch_.get(), &QSocketNotifier::activated, this, [this] { core_.PortReadable(); });
}

void Application::StopLineWork() {
  download_->LineLost();
  if (testPage_->Logic().Running()) testPage_->Logic().StartOrStop("");
  stationPage_->Logic().LineLost();
}

void Application::StopLink() {
  // Stop watching first: the port's handle is closed by the shutdown, and
  // notifications that arrive from now on are not routed.
  if (portWatch_) portWatch_->setEnabled(false);
  if (hostWatch_) hostWatch_->setEnabled(false);
  core_.Shutdown();
}

void Application::Quit() {
  StopLink();
  const int status = core_.StartFailed() ? 1 : 0;
  QMetaObject::invokeMethod(
      this, [status] { QCoreApplication::exit(status); }, Qt::QueuedConnection);
}

}  // namespace orderlink
