#pragma once
// Shared pieces of the end-to-end tests: frames as handsets send them through the
// base station, the frames the PC must write (built here by hand, not with the
// program's encoder), a base station played by the test on a pseudo-terminal, and
// helpers for driving the application in this process.

#include <QApplication>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "basesim/PcFrameParser.h"
#include "support/FakeSerialPort.h"
#include "support/Processes.h"

namespace orderlink {
class Application;
}

namespace orderlink::e2e {

using basesim::PcFrame;
// Long frames of either side, written out apart from the program's encoder.
using test::LongFrame;

// GBK bytes of UTF-8 text.
[[nodiscard]] std::string G(std::string_view utf8);
// `n` zero bytes.
[[nodiscard]] std::string Zeros(std::size_t n);

// ---- frames from the handsets (address 0xFF, the handset number first in the body)

// A whole message of `handset`: its number and the payload, cut into packets of at
// most `maxBody` body bytes.
[[nodiscard]] std::string HandsetMessage(std::uint8_t route, std::uint8_t handset,
                                         std::string_view code, std::string_view payload,
                                         std::size_t maxBody = 248);
// A frame without body ("SJCX" time query).
[[nodiscard]] std::string HeaderOnly(std::uint8_t route, std::string_view code);

// ---- frames from the PC

// Lengths of the pieces a payload must be cut into: `maxPiece` bytes, one less where
// the last byte would begin a two-byte character. An empty payload gives one empty
// piece, or none when `atLeastOne` is false (download records).
[[nodiscard]] std::vector<std::size_t> Pieces(std::string_view payload, std::size_t maxPiece,
                                              bool atLeastOne = true);
// Every frame of a message from the PC to `address`, cut as the line requires.
[[nodiscard]] std::vector<std::string> PcMessage(std::uint8_t route, std::uint8_t address,
                                                 std::string_view code, std::string_view payload);
[[nodiscard]] std::string Describe(const PcFrame& frame);
[[nodiscard]] bool IsPoll(const PcFrame& frame);

// ---- the test's base station on the master side of a pty pair

struct SeenFrame {
  PcFrame frame;
  std::chrono::steady_clock::time_point at;
};

class FakeStation {
 public:
  // Called on the station's thread for each frame the PC wrote; what it returns is
  // written back at once (empty: nothing).
  using Responder = std::function<std::string(const PcFrame&)>;

  explicit FakeStation(Responder responder = {});
  ~FakeStation();
  FakeStation(const FakeStation&) = delete;
  FakeStation& operator=(const FakeStation&) = delete;

  [[nodiscard]] const std::string& SlavePath() const { return pty_.SlavePath(); }
  void Send(std::string_view bytes);
  [[nodiscard]] std::vector<SeenFrame> Frames() const;
  [[nodiscard]] std::size_t Count() const;
  // Index of the first frame at or after `from` that `match` accepts, waiting up to
  // `timeoutMs` for it.
  std::optional<std::size_t> WaitFor(std::size_t from,
                                     const std::function<bool(const PcFrame&)>& match,
                                     int timeoutMs);

 private:
  void Run();

  test::PtyPair pty_;
  Responder responder_;
  basesim::PcFrameParser parser_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<SeenFrame> frames_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// ---- processes

[[nodiscard]] std::string Bin(const std::string& name);
// Environment of orderlink started by a test: data in `appDir`, COM1 on `com1`.
[[nodiscard]] std::vector<std::string> ProgramEnv(const std::string& appDir,
                                                  const std::string& com1);
// Waits until the child's standard error holds `text`.
bool WaitForStderr(test::ChildProcess& child, const std::string& text, int timeoutMs);
// What a simulator announces on its first line after `prefix` ("PTY " from the
// base-station simulator: its device; "PORT " from the ordering-software stand-in:
// its UDP port); empty when it announces nothing of the kind within 20 s.
[[nodiscard]] std::string Announced(test::ChildProcess& simulator, const std::string& prefix);
// Reads the child's standard output to its end.
[[nodiscard]] std::vector<std::string> RestOfOutput(test::ChildProcess& child, int timeoutMs);
// Value of `key=` in a "summary:" style line; -1 when missing.
[[nodiscard]] long Field(const std::string& line, const std::string& key);
// First line beginning with `prefix`, or "".
[[nodiscard]] std::string LineStarting(const std::vector<std::string>& lines,
                                       const std::string& prefix);

// ---- the application in this process

// Sets environment variables for the lifetime of the object.
class ScopedEnv {
 public:
  ScopedEnv(std::vector<std::pair<std::string, std::string>> values);
  ~ScopedEnv();

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// Collects what is written to standard error (the "message: ..." lines).
class StderrCapture {
 public:
  StderrCapture();
  ~StderrCapture();
  [[nodiscard]] std::string Text() const;

 private:
  int saved_ = -1;
  std::string path_;
};

// Keeps the window's event loop running until `done` or `timeoutMs`.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs);

// Runs Application::Run(args) with `script` started from inside its event loop;
// the application's shutdown follows the script. Returns Run's result.
int RunApplication(const std::vector<std::string>& args,
                   const std::function<void(Application&)>& script);

// A widget of the main window by its object name (null when there is none).
template <typename T>
T* Find(const char* name) {
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (top->objectName() == QLatin1String("mainWindow"))
      return top->findChild<T*>(QLatin1String(name));
  }
  return nullptr;
}

}  // namespace orderlink::e2e
