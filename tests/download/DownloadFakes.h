#pragma once
// Fakes and helpers shared by the download tests.

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "common/TextFile.h"
#include "download/DownloadController.h"
#include "link/LinkHandlers.h"
#include "link/ReceiveThread.h"
#include "link/SendThread.h"
#include "support/Processes.h"
#include "support/RecordingHostLink.h"
#include "support/RecordingMessages.h"

namespace orderlink::test {

// `count` distinct lines of exactly `length` bytes.
inline std::vector<std::string> FixedLines(int count, std::size_t length) {
  std::vector<std::string> lines;
  for (int i = 1; i <= count; ++i) {
    lines.push_back(std::to_string(i));
    lines.back().resize(length, 'x');
  }
  return lines;
}

inline std::array<bool, kDownloadTableCount> Only(std::initializer_list<std::string_view> tags) {
  std::array<bool, kDownloadTableCount> ticked{};
  for (int i = 0; i < kDownloadTableCount; ++i) {
    for (auto tag : tags) ticked[i] = ticked[i] || tag == kDownloadTables[i].tag;
  }
  return ticked;
}

// A page without a window; the selection is set by the test and queued calls
// take effect at once, in the order made. Any thread.
class FakeDownloadView : public DownloadView {
  template <typename F>
  auto Locked(F f) const -> decltype(f()) {
    std::lock_guard lock(mutex_);
    return f();
  }

 public:
  std::array<bool, kDownloadTableCount> tables{};
  std::vector<int> handsets;
  std::function<void(const std::string&)> onProgress;  // set before the worker runs

  bool TableTicked(int index) const override { return tables[index]; }
  std::vector<int> TickedHandsets() const override { return handsets; }
  int HandsetCounter() const override { return static_cast<int>(handsets.size()); }
  void SetStartStopCaption(const std::string& text) override {
    Locked([&] { caption_ = text; });
  }
  void SetInputsEnabled(bool on) override {
    Locked([&] { inputs_ = on; });
  }
  void ShowHandsetOutcome(int handset, HandsetOutcome outcome) override {
    Locked([&] { outcomes_[handset] = outcome; });
  }
  void ClearHandsetOutcomes() override {
    Locked([&] { outcomes_.clear(); });
  }
  void SetStatusTimerEnabled(bool on) override {
    Locked([&] { statusTimerOn_ = on; });
  }
  void StartStatusTimerIfStopped() override {
    Locked([&] { statusTimerOn_ = true; });
  }
  void SetProgress(const DownloadProgress& p) override {
    Locked([&] { progress_.push_back(p); });
    if (onProgress) onProgress(p.text);
  }
  std::string Caption() const {
    return Locked([&] { return caption_; });
  }
  bool InputsEnabled() const {
    return Locked([&] { return inputs_; });
  }
  bool StatusTimerOn() const {
    return Locked([&] { return statusTimerOn_; });
  }
  std::vector<DownloadProgress> Progress() const {
    return Locked([&] { return progress_; });
  }
  std::map<int, HandsetOutcome> Outcomes() const {
    return Locked([&] { return outcomes_; });
  }

 private:
  mutable std::mutex mutex_;
  std::string caption_;
  bool inputs_ = true;
  bool statusTimerOn_ = false;
  std::vector<DownloadProgress> progress_;
  std::map<int, HandsetOutcome> outcomes_;
};

// The app's receive hand-overs wired to the download controller as the composition
// does; `receiver` is the receive thread that pauses after an answer.
struct DownloadHandlers : LinkHandlers {
  DownloadHandlers(LineActivity& line, DownloadController& controller, LineWorker& receiver)
      : LinkHandlers(line) {
    downloadResult = [&controller, &receiver](const Message& m) {
      controller.OnDownloadResult(m, receiver);
    };
    resendRequest = [&controller, &receiver](const Message& m) {
      controller.OnResendRequest(m, receiver);
    };
    discardedPacket = [&controller] { controller.OnDiscardedPacket(); };
  }
};

// One packet from `handset` to the PC.
inline std::string AnswerFrame(std::string_view code, int handset, std::string_view payload = {}) {
  std::string frame("\0\0\0\xC0\x02", 5);
  frame += static_cast<char>(8 + payload.size());
  frame += "\xFF\x01";
  frame += '\0';
  frame += code;
  frame += static_cast<char>(handset);
  return frame += payload;
}

// Waits (real time) until the send thread has run every posted job.
inline bool WaitIdle(const SendThread& thread) {
  for (int i = 0; i < 5000 && !thread.Idle(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return thread.Idle();
}

}  // namespace orderlink::test
