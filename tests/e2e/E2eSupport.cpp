#include "e2e/E2eSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <QTest>
#include <QTimer>
#include <cstdio>
#include <filesystem>

#include "app/Application.h"
#include "common/Gbk.h"
#include "common/TextFile.h"
#include "support/FakeSerialPort.h"

namespace orderlink::e2e {

std::string G(std::string_view utf8) { return Utf8ToGbk(utf8); }

std::string Zeros(std::size_t n) { return std::string(n, '\0'); }

std::string HandsetMessage(std::uint8_t route, std::uint8_t handset, std::string_view code,
                           std::string_view payload, std::size_t maxBody) {
  const std::string content = std::string(1, static_cast<char>(handset)) + std::string(payload);
  std::string out;
  std::uint8_t sequence = 1;
  for (std::size_t pos = 0; pos < content.size(); pos += maxBody) {
    const bool more = pos + maxBody < content.size();
    out += LongFrame(route, 0xFF, sequence++, more, code, content.substr(pos, maxBody));
  }
  return out;
}

std::string HeaderOnly(std::uint8_t route, std::string_view code) {
  return LongFrame(route, 0xFF, 1, false, code, {});
}

std::vector<std::size_t> Pieces(std::string_view payload, std::size_t maxPiece, bool atLeastOne) {
  // Where each character begins: a GBK lead byte (0x81..0xFE) takes the next byte along.
  std::vector<bool> starts(payload.size(), true);
  for (std::size_t i = 0; i + 1 < payload.size(); ++i) {
    const auto byte = static_cast<unsigned char>(payload[i]);
    if (starts[i] && byte >= 0x81 && byte <= 0xFE) starts[i + 1] = false;
  }
  std::vector<std::size_t> pieces;
  std::size_t pos = 0;
  while (pos + maxPiece < payload.size()) {
    const std::size_t last = pos + maxPiece - 1;
    const bool splitsCharacter = last + 1 < payload.size() && starts[last] && !starts[last + 1];
    const std::size_t piece = splitsCharacter ? maxPiece - 1 : maxPiece;
    pieces.push_back(piece);
    pos += piece;
  }
  if (pos < payload.size() || (atLeastOne && pieces.empty()))
    pieces.push_back(payload.size() - pos);
  return pieces;
}

std::vector<std::string> PcMessage(std::uint8_t route, std::uint8_t address, std::string_view code,
                                   std::string_view payload) {
  std::vector<std::string> frames;
  const auto pieces = Pieces(payload, 54);
  std::size_t pos = 0;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    frames.push_back(LongFrame(route, address, static_cast<std::uint8_t>(i + 1),
                               i + 1 < pieces.size(), code, payload.substr(pos, pieces[i])));
    pos += pieces[i];
  }
  return frames;
}

std::string Describe(const PcFrame& frame) {
  switch (frame.kind) {
    case PcFrame::Kind::Poll:
      return "poll " + std::to_string(frame.address);
    case PcFrame::Kind::RollCall:
      return "roll call " + std::to_string(frame.address);
    case PcFrame::Kind::Long:
      return "[" + frame.code + "] to " + std::to_string(frame.address) + ": " +
             test::ToHex(frame.raw);
    case PcFrame::Kind::ConfigRequest:
      return "configuration request";
    case PcFrame::Kind::SettingsRecord:
      return "settings " + test::ToHex(frame.raw);
    case PcFrame::Kind::Rejected:
      return "REJECTED (" + frame.error + "): " + test::ToHex(frame.raw);
  }
  return "?";
}

bool IsPoll(const PcFrame& frame) { return frame.kind == PcFrame::Kind::Poll; }

// ---- FakeStation

FakeStation::FakeStation(Responder responder)
    : responder_(std::move(responder)), thread_([this] { Run(); }) {}

FakeStation::~FakeStation() {
  stop_ = true;
  thread_.join();
}

void FakeStation::Send(std::string_view bytes) { pty_.Write(bytes); }

void FakeStation::Run() {
  const int fd = pty_.Master();
  while (!stop_) {
    pollfd watch{fd, POLLIN, 0};
    if (::poll(&watch, 1, 20) <= 0 || (watch.revents & POLLIN) == 0) continue;
    char buffer[4096];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) continue;
    const auto at = std::chrono::steady_clock::now();
    std::vector<PcFrame> frames;
    parser_.Feed(std::string_view(buffer, static_cast<std::size_t>(n)), frames);
    for (PcFrame& frame : frames) {
      const std::string answer = responder_ ? responder_(frame) : std::string();
      {
        std::lock_guard lock(mutex_);
        frames_.push_back({std::move(frame), at});
      }
      changed_.notify_all();
      if (!answer.empty()) pty_.Write(answer);
    }
  }
}

std::vector<SeenFrame> FakeStation::Frames() const {
  std::lock_guard lock(mutex_);
  return frames_;
}

std::size_t FakeStation::Count() const {
  std::lock_guard lock(mutex_);
  return frames_.size();
}

std::optional<std::size_t> FakeStation::WaitFor(std::size_t from,
                                                const std::function<bool(const PcFrame&)>& match,
                                                int timeoutMs) {
  std::unique_lock lock(mutex_);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::size_t next = from;
  while (true) {
    for (; next < frames_.size(); ++next) {
      if (match(frames_[next].frame)) return next;
    }
    if (changed_.wait_until(lock, deadline) == std::cv_status::timeout && next == frames_.size()) {
      return std::nullopt;
    }
  }
}

// ---- processes

std::string Bin(const std::string& name) { return std::string(ORDERLINK_BIN_DIR) + "/" + name; }

std::vector<std::string> ProgramEnv(const std::string& appDir, const std::string& com1) {
  return {"ORDERLINK_APPDIR=" + appDir, "ORDERLINK_COM1=" + com1, "QT_QPA_PLATFORM=offscreen",
          "ORDERLINK_NONINTERACTIVE=1"};
}

bool WaitForStderr(test::ChildProcess& child, const std::string& text, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (child.Stderr().find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

std::string Announced(test::ChildProcess& simulator, const std::string& prefix) {
  const auto line = simulator.ReadLine(20000);
  if (!line || line->rfind(prefix, 0) != 0) return {};
  return line->substr(prefix.size());
}

std::vector<std::string> RestOfOutput(test::ChildProcess& child, int timeoutMs) {
  std::vector<std::string> lines;
  while (auto line = child.ReadLine(timeoutMs)) lines.push_back(*line);
  return lines;
}

long Field(const std::string& line, const std::string& key) {
  const std::string needle = " " + key + "=";
  const auto at = line.find(needle);
  if (at == std::string::npos) return -1;
  return std::strtol(line.c_str() + at + needle.size(), nullptr, 10);
}

std::string LineStarting(const std::vector<std::string>& lines, const std::string& prefix) {
  for (const auto& line : lines) {
    if (line.rfind(prefix, 0) == 0) return line;
  }
  return {};
}

// ---- in this process

ScopedEnv::ScopedEnv(std::vector<std::pair<std::string, std::string>> values) {
  for (const auto& [name, value] : values) {
    const char* old = std::getenv(name.c_str());
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    ::setenv(name.c_str(), value.c_str(), 1);
  }
}

ScopedEnv::~ScopedEnv() {
  for (const auto& [name, old] : saved_) {
    if (old) {
      ::setenv(name.c_str(), old->c_str(), 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }
}

StderrCapture::StderrCapture() {
  char path[] = "/tmp/orderlink-e2e-stderr-XXXXXX";
  const int fd = ::mkstemp(path);
  if (fd < 0) return;
  path_ = path;
  std::fflush(stderr);
  saved_ = ::dup(STDERR_FILENO);
  ::dup2(fd, STDERR_FILENO);
  ::close(fd);
}

StderrCapture::~StderrCapture() {
  if (saved_ < 0) return;
  std::fflush(stderr);
  ::dup2(saved_, STDERR_FILENO);
  ::close(saved_);
  // What the application said goes on to the test's own output as well.
  const std::string text = Text();
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::filesystem::remove(path_);
}

std::string StderrCapture::Text() const {
  std::fflush(stderr);
  return path_.empty() ? std::string() : ReadFileBytes(path_).value_or("");
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    QTest::qWait(10);
  }
  return true;
}

int RunApplication(const std::vector<std::string>& args,
                   const std::function<void(Application&)>& script) {
  QApplication::setQuitOnLastWindowClosed(false);
  Application application;
  QTimer::singleShot(0, &application, [&] {
    script(application);
    application.Quit();
  });
  return application.Run(args);
}

}  // namespace orderlink::e2e
