#include "app/AppCore.h"

#include <cstdlib>
#include <exception>

#include "app/ConfigFiles.h"
#include "app/Settings.h"
#include "common/Gbk.h"
#include "common/Log.h"
#include "common/WholeNumber.h"

namespace orderlink {

namespace {

// The ordering software's port: decimal 1..65535, nothing else. 0 when not one.
int ParseHostPort(const std::string& text) {
  if (text.size() > 5 || !AllDigits(text)) return 0;
  const int port = ParseWholeNumber(text).value_or(0);
  return port <= 65535 ? port : 0;
}

}  // namespace

std::filesystem::path ResolveAppDir() { return ChooseAppDir(ProcessAppDirSources()).dir; }

AppCore::AppCore(Clock& clock, MessageSink& messages, HostConnection& host, WindowTimers& timers,
                 PortOpener openPort)
    : clock_(clock),
      messages_(messages),
      host_(host),
      timers_(timers),
      openPort_(std::move(openPort)) {
  if (!openPort_) {
    openPort_ = [](int number, PortOpenError* error) { return OpenComPort(number, error); };
  }
}

AppCore::~AppCore() { Shutdown(); }

void AppCore::WrapDevices(
    std::function<std::unique_ptr<SerialPort>(std::unique_ptr<SerialPort>)> wrap) {
  openPort_ = [open = std::move(openPort_), wrap = std::move(wrap)](int number,
                                                                    PortOpenError* error) {
    std::unique_ptr<SerialPort> device = open(number, error);
    return device ? wrap(std::move(device)) : nullptr;
  };
}

bool AppCore::Fatal(const std::string& message) {
  startFailed_ = true;
  messages_.ShowStartFailure(message);
  QuitApplication();
  return false;
}

void AppCore::QuitApplication() {
  if (quitApplication) {
    quitApplication();
  } else {
    Shutdown();
  }
}

bool AppCore::OpenLink(const std::vector<std::string>& args, const std::filesystem::path& appDir) {
  if (args.empty()) return Fatal("没有参数");
  appDir_ = appDir;
  debugMode_ = true;
  const std::string& parameter = args.front();
  if (parameter == "DEBUG") {
    host_.SetHostPort(host_.OwnPort());
  } else {
    const int hostPort = ParseHostPort(parameter);
    if (hostPort == 0) {
      return Fatal("参数“" + parameter + "”无效：应为DEBUG或点菜软件的端口号1～65535。");
    }
    host_.SetHostPort(hostPort);
    host_.Post({kHostNotifyMessage, 0, host_.OwnPort()});
    debugMode_ = false;
  }

  const BaseStationResult parsed = ReadBaseStationFile(TxtDir(appDir_));
  if (!parsed.config) return Fatal(parsed.error);
  station_ = parsed.config->station;

  portNumber_ = parsed.config->portNumber;
  PortOpenError error;
  if (!CreateWorkers(&error)) {
    // Start-up goes on with the lists (the program ends once the event loop runs).
    std::string message = PortFailureMessage();
    if (!error.device.empty()) message += "\n" + DescribePortOpenError(error, portNumber_);
    Fatal(message);
    return true;
  }
  portName_ = GbkToUtf8(parsed.config->portName);
  return true;
}

std::string AppCore::PortFailureMessage() const {
  return "com" + std::to_string(portNumber_) + " not opend or thread not created.";
}

bool AppCore::CreateWorkers(PortOpenError* error) {
  try {
    std::shared_ptr<SerialPort> device = openPort_(portNumber_, error);
    if (!device) {
      line_.portConnected = false;
      return false;
    }
    port_.Attach(std::move(device));
    rcv_ = std::make_unique<ReceiveThread>(&port_, handlers_, line_, clock_);
    send_ = std::make_unique<SendThread>(&port_, clock_);
    poller_ = std::make_unique<HandsetPoller>(*send_, *rcv_);
  } catch (const std::exception& e) {
    LogError(std::string("serial link workers not created: ") + e.what());
    poller_.reset();
    send_.reset();
    rcv_.reset();
    port_.Close();
    return false;
  }
  receiverShared_ = rcv_.get();
  sendShared_ = send_.get();
  pollerShared_ = poller_.get();
  return true;
}

bool AppCore::FillAndStart(const std::vector<HandsetListView*>& lists) {
  const HandsetResult parsed = ReadHandsetFile(TxtDir(appDir_), station_);
  if (!parsed.Ok()) return Fatal(parsed.error);

  HandsetPoller* poller = Poller();
  for (const HandsetLine& handset : parsed.handsets) {
    for (HandsetListView* list : lists) list->AddHandset(handset.text);
    if (poller != nullptr) poller->Add(handset.number);
  }
  for (HandsetListView* list : lists) list->HandsetsComplete();

  ReceiveThread* rcv = Receiver();
  SendThread* send = Sender();
  if (rcv == nullptr || send == nullptr || poller == nullptr) return true;
  try {
    rcv->Start();
    send->Start();
  } catch (const std::exception& e) {
    LogError(std::string("serial link workers not started: ") + e.what());
    return Fatal(PortFailureMessage());
  }
  poller->Start(kPollsPerSecond);
  return true;
}

void AppCore::Shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  host_.Post({kCloseMessage, 0, 0});
  receiverShared_ = nullptr;
  sendShared_ = nullptr;
  pollerShared_ = nullptr;
  // Both workers are told to end first: a job's pause ends early only once its
  // thread is told to end.
  if (rcv_) rcv_->Terminate();
  if (send_) send_->Terminate();
  if (poller_) poller_->Stop();
  if (rcv_) rcv_->TerminateAndJoin();
  if (send_) send_->TerminateAndJoin();
  SetWatch(-1);
  port_.Close();
}

void AppCore::SetWatch(int handle) {
  if (watchPort) watchPort(handle);
}

void AppCore::WatchPort() {
  if (Receiver() != nullptr) SetWatch(port_.Handle());
}

void AppCore::PortReadable() {
  ReceiveThread* rcv = Receiver();
  if (rcv == nullptr || !port_.HasDevice()) return;
  switch (rcv->ReadInput()) {
    case ReceiveThread::InputResult::Stored:
      return;
    case ReceiveThread::InputResult::RingFull:
      // The handle stays readable while the bytes wait in the kernel: without the
      // pause the watch would fire without end.
      SetWatch(-1);
      timers_.After(kRingFullRetryMs, [this] {
        if (!shutDown_ && port_.HasDevice()) SetWatch(port_.Handle());
      });
      return;
    case ReceiveThread::InputResult::HungUp:
      LoseLine();
      return;
  }
}

void AppCore::LoseLine() {
  // The watch goes first: a hung-up handle stays readable for ever, and whatever
  // the notice or the hooks do must not bring this here again.
  SetWatch(-1);
  port_.Detach();
  line_.portConnected = false;
  LogWarning("COM" + std::to_string(portNumber_) + ": the device hung up");
  messages_.ShowNotice("串口" + portName_ + "已断开，正在等待重新连接…");
  if (lineLost) lineLost();
  // Scheduled last, so that no try can run inside whatever the hooks showed.
  timers_.After(kReopenEveryMs, [this] { TryReopen(); });
}

void AppCore::TryReopen() {
  if (shutDown_ || port_.HasDevice()) return;
  PortOpenError error;
  std::unique_ptr<SerialPort> device;
  try {
    device = openPort_(portNumber_, &error);
  } catch (const std::exception& e) {
    error.systemReason = e.what();
  }
  if (!device) {
    if (error.Summary() != lastReopenError_) {
      lastReopenError_ = error.Summary();
      LogInfo("COM" + std::to_string(portNumber_) + " not back yet: " + lastReopenError_);
    }
    timers_.After(kReopenEveryMs, [this] { TryReopen(); });
    return;
  }
  lastReopenError_.clear();
  Receiver()->ResetParserBeforeNextChunk();
  port_.Attach(std::move(device));
  line_.portConnected = true;
  SetWatch(port_.Handle());
  LogInfo("COM" + std::to_string(portNumber_) + ": the device is back");
  messages_.ShowNotice("串口" + portName_ + "已重新连接。");
  if (lineBack) lineBack();
}

void AppCore::HostReadable() {
  for (const HostMessage& message : host_.ReadPending()) {
    if (shutDown_) return;
    if (message.message == kHostNotifyMessage) {
      OnHostNotify(message.lParam);
    } else if (message.message == kCloseMessage) {
      QuitApplication();
    }
  }
}

void AppCore::OnHostNotify(int code) {
  const std::function<void()>* handler = nullptr;
  switch (code) {
    case NotifyShortMessage:
      handler = &hostNotify.shortMessage;
      break;
    case NotifyRequest:
      handler = &hostNotify.reply;
      break;
    case NotifyLogin:
      handler = &hostNotify.login;
      break;
    case NotifyDownload:
      handler = &hostNotify.download;
      break;
    default:
      return;
  }
  if (*handler) (*handler)();
}

}  // namespace orderlink
