#pragma once
// Start-up and shutdown of the process, and the process-wide values every part
// reads: AppDir, HostWindow, DebugMode and the three workers of the serial link
// (receive thread, send thread, poller), each of which may be absent.
//
// Start-up runs in two steps so that the subsystems can be built in between, with
// the workers already created but not yet running (jobs and hand-overs are
// registered then):
//   OpenLink      parameter, announcement to the ordering software, 基站.txt, port,
//                 workers created
//   FillAndStart  点菜机.txt into every handset list and the poller, workers started,
//                 polling at 15 per second
// Every fatal condition shows its message and runs `quitApplication`, the application's
// whole shutdown, which calls Shutdown() and ends the application.
//
// The serial line in service: the workers keep one port for the life of the
// program (a ReplaceablePort). When the device hangs up (a USB adapter pulled) the
// watch of its handle is switched off first, the device is dropped, one notice
// tells the user, `lineLost` ends the work that needs the line, and the same port
// number is opened again about once a second (its device path looked up afresh each
// time). When it opens, the parser is reset, the watch follows the new handle, one
// notice says so and `lineBack` runs; polling goes on by itself.
//
// Window thread only, except where a method says otherwise.

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/Clock.h"
#include "common/HandsetListView.h"
#include "common/HostLink.h"
#include "common/MessageSink.h"
#include "common/TxtDir.h"
#include "common/WindowTimers.h"
#include "link/HandsetPoller.h"
#include "link/LineActivity.h"
#include "link/LinkHandlers.h"
#include "link/ReceiveThread.h"
#include "link/ReplaceablePort.h"
#include "link/SendThread.h"
#include "link/SerialPort.h"

namespace orderlink {

// $ORDERLINK_APPDIR, else AppDir of the settings file, else the executable's
// directory when it holds TXT, else $XDG_DATA_HOME/orderlink (ChooseAppDir).
[[nodiscard]] std::filesystem::path ResolveAppDir();

// Receivers of the ordering software's notifications by code; an empty one ignores it.
struct HostNotifyHandlers {
  std::function<void()> shortMessage;  // 0: DX.txt holds a short message
  std::function<void()> reply;         // 1: R1.txt holds a reply
  std::function<void()> login;         // 10: DL.txt holds the login verdict
  std::function<void()> download;      // 11: the download tables are ready
};

inline constexpr int kPollsPerSecond = 15;

class AppCore {
 public:
  // Opens COM port `number` (1..9); nullptr and the reason in `error` on failure.
  using PortOpener = std::function<std::unique_ptr<SerialPort>(int number, PortOpenError* error)>;

  static constexpr int kReopenEveryMs = 1000;
  // While the input ring is full the port is not read; it is looked at again after this.
  static constexpr int kRingFullRetryMs = 20;

  // `openPort` defaults to OpenComPort (the termios port on the device of COM
  // `number`, looked up at every call). `timers` runs the reopening tries and the read after a full
  // ring.
  AppCore(Clock& clock, MessageSink& messages, HostConnection& host, WindowTimers& timers,
          PortOpener openPort = {});
  ~AppCore();  // runs Shutdown() if it has not run
  AppCore(const AppCore&) = delete;
  AppCore& operator=(const AppCore&) = delete;

  // The application's whole shutdown (Application::Quit). Unset: Shutdown() alone.
  std::function<void()> quitApplication;
  // Filled by the composition before FillAndStart.
  HostNotifyHandlers hostNotify;
  // Watch `handle` for arriving bytes and call PortReadable; -1: stop watching.
  std::function<void(int handle)> watchPort;
  // The device was lost: stop the work that needs the line (after the notice).
  std::function<void()> lineLost;
  // A device is back behind the port (after the notice).
  std::function<void()> lineBack;
  // Wraps every device opened from now on, the first one and each reopened one (the
  // frame trace's TracingPort). Before OpenLink.
  void WrapDevices(std::function<std::unique_ptr<SerialPort>(std::unique_ptr<SerialPort>)> wrap);
  [[nodiscard]] LinkHandlers& Handlers() { return handlers_; }
  // What the line is doing; handed to every subsystem that takes turns on it.
  [[nodiscard]] LineActivity& Line() { return line_; }

  // `args` are the command-line parameters without the program name. False when
  // start-up stopped (shutdown has run; build nothing more on it). A port that
  // cannot be opened shuts down too, yet returns true: the remaining steps still run.
  bool OpenLink(const std::vector<std::string>& args, const std::filesystem::path& appDir);
  // False when start-up stopped.
  bool FillAndStart(const std::vector<HandsetListView*>& lists);
  // WM_CLOSE to HostWindow, poller stopped, both workers ended and joined, port
  // closed. Returns promptly even while a job runs. Runs once; later calls do nothing.
  void Shutdown();

  // The serial receive event: stores what the port has buffered. A full ring pauses
  // the watch for a moment; a hang-up loses the line as described above.
  void PortReadable();
  // Starts watching the port's handle (after FillAndStart).
  void WatchPort();
  // Datagrams waiting on the host socket: HostNotify is routed by its code, WM_CLOSE
  // runs quitApplication.
  void HostReadable();
  // OnHostNotify: routes 0, 1, 10 and 11; any other code is ignored.
  void OnHostNotify(int code);

  [[nodiscard]] const std::filesystem::path& AppDir() const { return appDir_; }
  [[nodiscard]] TxtDir Txt() const { return TxtDir(appDir_); }
  [[nodiscard]] int HostWindow() const { return host_.HostPort(); }
  [[nodiscard]] bool DebugMode() const { return debugMode_; }
  [[nodiscard]] MessageSink& Messages() { return messages_; }
  [[nodiscard]] Clock& GetClock() { return clock_; }
  // The workers; null while absent (before OpenLink, after a failed open, after
  // Shutdown). Any thread. The objects themselves live until the AppCore is
  // destroyed, so a pointer taken earlier stays valid (its thread has ended).
  [[nodiscard]] ReceiveThread* Receiver() const { return receiverShared_.load(); }
  [[nodiscard]] SendThread* Sender() const { return sendShared_.load(); }
  [[nodiscard]] HandsetPoller* Poller() const { return pollerShared_.load(); }
  // True while a device is behind the port.
  [[nodiscard]] bool LineUp() const { return port_.HasDevice(); }
  // Port name of the first line of 基站.txt (UTF-8), "COM1" until it is known.
  [[nodiscard]] const std::string& PortName() const { return portName_; }
  [[nodiscard]] bool ShutDown() const { return shutDown_; }
  // True once start-up met a fatal condition: the process then ends with status 1,
  // so a script or the ordering software can tell a failed start from a close.
  [[nodiscard]] bool StartFailed() const { return startFailed_; }

 private:
  bool Fatal(const std::string& message);
  void QuitApplication();
  bool CreateWorkers(PortOpenError* error);
  [[nodiscard]] std::string PortFailureMessage() const;
  void SetWatch(int handle);
  void LoseLine();
  void TryReopen();

  Clock& clock_;
  MessageSink& messages_;
  HostConnection& host_;
  WindowTimers& timers_;
  PortOpener openPort_;

  std::filesystem::path appDir_;
  bool debugMode_ = false;
  char station_ = 0;
  int portNumber_ = 0;
  std::string portName_ = "COM1";
  bool shutDown_ = false;
  bool startFailed_ = false;
  std::string lastReopenError_;  // logged once until it changes

  LineActivity line_;             // outlives the workers and the handlers
  LinkHandlers handlers_{line_};  // outlives the receive thread
  ReplaceablePort port_;          // outlives the workers
  std::unique_ptr<ReceiveThread> rcv_;
  std::unique_ptr<SendThread> send_;
  std::unique_ptr<HandsetPoller> poller_;
  std::atomic<ReceiveThread*> receiverShared_{nullptr};
  std::atomic<SendThread*> sendShared_{nullptr};
  std::atomic<HandsetPoller*> pollerShared_{nullptr};
};

}  // namespace orderlink
