#include "app/AppCore.h"

#include <cstdio>
#include <cstdlib>
#include <exception>

#include "app/ConfigFiles.h"
#include "app/Settings.h"
#include "common/Gbk.h"

namespace orderlink {

namespace {

// The ordering software's port: decimal 1..65535, nothing else. 0 when not one.
int ParseHostPort(const std::string& text) {
  if (text.empty() || text.size() > 5) return 0;
  int port = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    port = port * 10 + (c - '0');
  }
  return port <= 65535 ? port : 0;
}

void Diagnostic(const std::string& text) { std::fprintf(stderr, "orderlink: %s\n", text.c_str()); }

}  // namespace

std::filesystem::path ResolveAppDir() { return ChooseAppDir(ProcessAppDirSources()).dir; }

AppCore::AppCore(Clock& clock, MessageSink& messages, UdpHostLink& host, PortOpener openPort)
    : clock_(clock), messages_(messages), host_(host), openPort_(std::move(openPort)) {
  if (!openPort_) {
    openPort_ = [](int number, std::string* error) {
      return OpenSerialPort(ComDevicePath(number), error);
    };
  }
}

AppCore::~AppCore() { Shutdown(); }

bool AppCore::Fatal(const std::string& message) {
  startFailed_ = true;
  messages_.ShowMessage(message);
  CloseQuery();
  return false;
}

void AppCore::CloseQuery() {
  if (closeQuery) {
    closeQuery();
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
  std::string error;
  if (!CreateWorkers(&error)) {
    Diagnostic("COM" + std::to_string(portNumber_) + ": " + error);
    // Start-up goes on with the lists (the program ends once the event loop runs).
    Fatal(PortFailureMessage());
    return true;
  }
  portName_ = GbkToUtf8(parsed.config->portName);
  return true;
}

std::string AppCore::PortFailureMessage() const {
  return "com" + std::to_string(portNumber_) + " not opend or thread not created.";
}

bool AppCore::CreateWorkers(std::string* error) {
  try {
    port_ = openPort_(portNumber_, error);
    if (!port_) return false;
    rcv_ = std::make_unique<TRcvThread>(port_.get(), handlers_, clock_);
    send_ = std::make_unique<TSendThread>(port_.get(), clock_);
    comCtr_ = std::make_unique<TComCtr>(*send_, *rcv_);
  } catch (const std::exception& e) {
    *error = e.what();
    comCtr_.reset();
    send_.reset();
    rcv_.reset();
    port_.reset();
    return false;
  }
  rcvShared_ = rcv_.get();
  sendShared_ = send_.get();
  comCtrShared_ = comCtr_.get();
  return true;
}

bool AppCore::FillAndStart(const std::vector<HandsetListView*>& lists) {
  const HandsetResult parsed = ReadHandsetFile(TxtDir(appDir_), station_);
  if (!parsed.Ok()) return Fatal(parsed.error);

  TComCtr* comCtr = ComCtr();
  for (const HandsetLine& handset : parsed.handsets) {
    for (HandsetListView* list : lists) list->AddHandset(handset.text);
    if (comCtr != nullptr) comCtr->Add(handset.number);
  }
  for (HandsetListView* list : lists) list->HandsetsComplete();

  TRcvThread* rcv = RcvThread();
  TSendThread* send = SendThread();
  if (rcv == nullptr || send == nullptr || comCtr == nullptr) return true;
  try {
    rcv->Start();
    send->Start();
  } catch (const std::exception& e) {
    Diagnostic(e.what());
    return Fatal(PortFailureMessage());
  }
  comCtr->Start(kPollsPerSecond);
  return true;
}

void AppCore::Shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  host_.Post({kCloseMessage, 0, 0});
  rcvShared_ = nullptr;
  sendShared_ = nullptr;
  comCtrShared_ = nullptr;
  // Both workers are told to end before the poll timer is joined: a tick may be
  // waiting for the send thread's lock while a job pauses, and a job's pause ends
  // early only once its thread is told to end.
  if (rcv_) rcv_->Terminate();
  if (send_) send_->Terminate();
  if (comCtr_) comCtr_->Stop();
  if (rcv_) rcv_->TerminateAndJoin();
  if (send_) send_->TerminateAndJoin();
  if (port_ && port_->IsOpen()) port_->Close();
}

bool AppCore::MSComm1Comm() {
  TRcvThread* rcv = RcvThread();
  if (rcv == nullptr) return false;
  if (rcv->ReadInput() == ReadOutcome::Ok) return true;
  messages_.ShowMessage("串口" + portName_ + "已断开，请检查连接后重新启动程序。");
  return false;
}

void AppCore::HostReadable() {
  for (const HostMessage& message : host_.ReadPending()) {
    if (shutDown_) return;
    if (message.message == kHostNotifyMessage) {
      OnHostNotify(message.lParam);
    } else if (message.message == kCloseMessage) {
      CloseQuery();
    }
  }
}

void AppCore::OnHostNotify(int code) {
  const std::function<void()>* handler = nullptr;
  switch (code) {
    case NotifyShortMessage: handler = &hostNotify.shortMessage; break;
    case NotifyRequest: handler = &hostNotify.reply; break;
    case NotifyLogin: handler = &hostNotify.login; break;
    case NotifyDownload: handler = &hostNotify.download; break;
    default: return;
  }
  if (*handler) (*handler)();
}

}  // namespace orderlink
