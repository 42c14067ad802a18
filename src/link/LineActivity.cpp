#include "link/LineActivity.h"

#include <utility>

#include "link/HandsetPoller.h"

namespace orderlink {

namespace {

// What the user is told when `asking` wants the line while `holding` has it.
struct Refusal {
  LineUser holding;
  LineUser asking;
  std::string_view text;
};

constexpr Refusal kRefusals[] = {
    {LineUser::Download, LineUser::LinkTest, "正在下传数据，请稍后再试!!"},
    {LineUser::StationDialogue, LineUser::LinkTest, "正在设置基站，请稍后再试！"},
    {LineUser::LinkTest, LineUser::Download, "正在进行软件测试，请稍后再试！"},
    // Download frames must not reach a base station that waits for its settings.
    {LineUser::StationDialogue, LineUser::Download, "正在设置基站，请稍后再试！"},
    {LineUser::Download, LineUser::StationDialogue, "正在下载数据，请先停止下载！"},
    // Test frames on the line could reach the station in place of its record.
    {LineUser::LinkTest, LineUser::StationDialogue, "正在进行软件测试，请稍后再试！"},
};

}  // namespace

std::string_view LineActivity::RefusalFor(LineUser user) const {
  // A download holds the line from its start click on, before the go-ahead too.
  const bool holds[] = {DownloadOnLine(), linkTestRunning.load(), stationBusy.load()};
  for (const Refusal& refusal : kRefusals) {
    if (refusal.asking == user && holds[static_cast<int>(refusal.holding)]) return refusal.text;
  }
  return {};
}

LineActivity::Taken LineActivity::Take(LineUser user, HandsetPoller* poller) {
  if (const std::string_view refusal = RefusalFor(user); !refusal.empty()) return {{}, refusal};
  return {LineGrant(*this, user, poller), {}};
}

LineGrant::LineGrant(LineActivity& line, LineUser user, HandsetPoller* poller)
    : line_(&line), user_(user), poller_(poller), active_(true) {
  SetFlag(true);
}

LineGrant::LineGrant(LineGrant&& other) noexcept
    : line_(std::exchange(other.line_, nullptr)),
      user_(other.user_),
      poller_(other.poller_),
      active_(std::exchange(other.active_, false)),
      paused_(std::exchange(other.paused_, false)) {}

LineGrant& LineGrant::operator=(LineGrant&& other) noexcept {
  if (this != &other) {
    Release();
    line_ = std::exchange(other.line_, nullptr);
    user_ = other.user_;
    poller_ = other.poller_;
    active_ = std::exchange(other.active_, false);
    paused_ = std::exchange(other.paused_, false);
  }
  return *this;
}

void LineGrant::PausePolling() {
  if (line_ == nullptr || paused_) return;
  paused_ = true;
  if (poller_ != nullptr) poller_->PausePolling();
}

void LineGrant::DownloadRuns() {
  if (line_ == nullptr || user_ != LineUser::Download || !active_) return;
  line_->downloadRunning = true;
  line_->downloadRequested = false;
}

void LineGrant::EndActivity() {
  if (line_ == nullptr || !active_) return;
  SetFlag(false);
  active_ = false;
  if (!paused_) line_ = nullptr;
}

void LineGrant::Release() {
  if (line_ == nullptr) return;
  if (active_) SetFlag(false);
  if (paused_ && poller_ != nullptr) poller_->ResumePolling();
  line_ = nullptr;
  active_ = paused_ = false;
}

void LineGrant::SetFlag(bool on) {
  switch (user_) {
    case LineUser::Download:
      line_->downloadRequested = on;
      if (!on) line_->downloadRunning = false;
      break;
    case LineUser::LinkTest:
      line_->linkTestRunning = on;
      break;
    case LineUser::StationDialogue:
      line_->stationBusy = on;
      break;
  }
}

}  // namespace orderlink
