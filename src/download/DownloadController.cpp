#include "download/DownloadController.h"

#include <algorithm>
#include <memory>

#include "common/Gbk.h"
#include "common/Log.h"
#include "common/TextFile.h"
#include "link/FrameParser.h"
#include "link/HandsetPoller.h"
#include "link/Protocol.h"
#include "link/SendThread.h"

namespace orderlink {

namespace {
// Pauses of the protocol, in ms. Handsets in the field depend on them.
constexpr int kRepeatPauseMs = 30;       // between the ten kCodeDownloadOpening / kCodeDownloadEnd
constexpr int kAfterOpeningMs = 3000;    // handsets prepare after kCodeDownloadOpening
constexpr int kRecordPauseMs = 150;      // handsets store a record
constexpr int kBeforeStatusMs = 500;     // handsets configure after the last record
constexpr int kAfterResendOpenMs = 100;  // after kCodeResendOpening
constexpr int kAfterResultMs = 10;  // receive side, after kCodeDownloadComplete/kCodeDownloadFailed
constexpr int kAfterResendAskMs = 100;  // receive side, after posting a resend
// Window-side waits.
constexpr int kBeforeTablesMs = 500;
constexpr int kAfterStopMs = 1000;
constexpr int kBeforeEndAllMs = 100;
constexpr int kAfterEndAllMs = 500;
constexpr int kRepeatCount = 10;

constexpr char kLineRefused[] = "串口发送队列已满，下载未开始，请稍后再试！";
constexpr char kNoTable[] = "请先选择文件！";
constexpr char kNoHandset[] = "请选择点菜机！";
constexpr char kTooManyHandsets[] = "选择的点菜机不能超过256个！";
constexpr char kJobFileNotWritten[] = "下载文件join.txt写入失败！";
constexpr char kPreparing[] = "文件准备中...";
constexpr char kStoppedByClick[] = "下载被终止!";
constexpr char kStoppedByJob[] = "下载被终止！";
constexpr char kConfiguring[] = "正在配置文件，请稍后...";
constexpr char kFinished[] = "下载完毕！";
constexpr char kLineGone[] = "串口已断开，下载没有进行，请检查串口连接后重新下载。";

std::string HandsetText(int handset) { return "点菜机" + ZeroPadded(handset, 3); }

// "点菜机003、004" for the handsets of one outcome.
std::string HandsetNames(const std::vector<int>& handsets) {
  std::string names = "点菜机";
  for (std::size_t i = 0; i < handsets.size(); ++i) {
    if (i > 0) names += "、";
    names += ZeroPadded(handsets[i], 3);
  }
  return names;
}

const char* OutcomeLogText(HandsetOutcome outcome) {
  switch (outcome) {
    case HandsetOutcome::Complete:
      return "complete";
    case HandsetOutcome::Failed:
      return "failed (XZSB)";
    case HandsetOutcome::NoAnswer:
      break;
  }
  return "no answer";
}
}  // namespace

std::string ProgressToolTipLine(const DownloadProgress& progress) {
  if (progress.total <= 0) return progress.text;
  const long long percent = 100LL * progress.done / progress.total;
  return progress.text + " (" + std::to_string(percent) + "%)";
}

DownloadController::DownloadController(TxtDir txt, WindowTimers& timers, HostLink& host,
                                       MessageSink& messages, DownloadView& view,
                                       SendThread* sendThread, HandsetPoller* poller,
                                       LineActivity& line)
    : txt_(std::move(txt)),
      timers_(timers),
      host_(host),
      messages_(messages),
      view_(view),
      send_(sendThread),
      poller_(poller),
      line_(line) {}

// ---------------------------------------------------------------- window thread

std::uint64_t DownloadController::EnterPhase(Phase phase) {
  const std::uint64_t number = RunNumber() + 1;
  state_.store(MakeState(number, phase));
  return number;
}

bool DownloadController::Post(LineWork work) {
  return send_ != nullptr && send_->Post(std::move(work));
}

void DownloadController::ReleaseLineAfter(int ms, std::function<void()> then) {
  grant_.EndActivity();
  // The grant of this run goes with the step: a download started meanwhile has its own.
  auto held = std::make_shared<LineGrant>(std::move(grant_));
  timers_.After(ms, [held, then = std::move(then)] {
    held->Release();
    if (then) then();
  });
}

void DownloadController::StartOrStopDownload() {
  if (const std::string_view refusal = line_.RefusalFor(LineUser::Download); !refusal.empty()) {
    messages_.ShowMessage(std::string(refusal));
    return;
  }
  if (line_.downloadRunning.load()) {
    StopClick();
    return;
  }

  const std::vector<int> ticked = view_.TickedHandsets();
  {
    std::lock_guard lock(mutex_);
    const auto kept = std::min<std::size_t>(ticked.size(), kMaxHandsets);
    target_.assign(ticked.begin(), ticked.begin() + static_cast<std::ptrdiff_t>(kept));
    pending_ = target_;
    targetNext_ = 0;
    statusRound_ = 0;
  }
  const int counter = view_.HandsetCounter();
  bool anyTable = false;
  for (int i = 0; i < kDownloadTableCount && !anyTable; ++i) anyTable = view_.TableTicked(i);
  if (!anyTable) {
    messages_.ShowMessage(kNoTable);
    return;
  }
  if (counter == 0) {
    messages_.ShowMessage(kNoHandset);
    return;
  }
  if (ticked.size() > static_cast<std::size_t>(kMaxHandsets)) {
    messages_.ShowMessage(kTooManyHandsets);
    return;
  }
  // Without the line the download would broadcast into nothing.
  if (!line_.portConnected.load()) {
    messages_.ShowMessage(kLineGone);
    return;
  }
  {
    std::lock_guard lock(mutex_);
    outcomes_.clear();
    for (int handset : target_) outcomes_.emplace_back(handset, HandsetOutcome::NoAnswer);
  }
  view_.ClearHandsetOutcomes();
  // The line is promised to this download from now on; a pending step of an
  // earlier stop no longer touches the page.
  EnterPhase(Phase::Idle);
  grant_ = line_.Take(LineUser::Download, poller_).grant;
  view_.SetInputsEnabled(false);
  host_.Notify(NotifyDownload);
}

void DownloadController::StopClick() {
  view_.SetStartStopCaption(kStartStopCaptionIdle);
  // A new download number: the broadcast ends after its current record, answers
  // no longer re-arm the status timer, and pending steps of the stopped run do nothing.
  stopNotice_ = NoticePending;
  const std::uint64_t run = EnterPhase(Phase::Idle);
  view_.SetStatusTimerEnabled(false);
  // The stopped download's pause of polling ends with this step in any case.
  ReleaseLineAfter(kAfterStopMs, [this, run] {
    if (RunNumber() != run) return;
    view_.SetProgress({kStoppedByClick});
    int expected = NoticePending;
    if (!stopNotice_.compare_exchange_strong(expected, ClickTextShown)) {
      view_.SetProgress({kStoppedByJob});  // the job noticed the stop first
    }
    view_.SetInputsEnabled(true);
  });
}

void DownloadController::EndFailedAttempt(const std::string& message) {
  view_.SetStartStopCaption(kStartStopCaptionIdle);
  EnterPhase(Phase::Idle);
  view_.SetInputsEnabled(true);
  ReleaseLineAfter(kAfterStopMs, [this, message] {
    if (!message.empty()) messages_.ShowMessage(message);
  });
}

void DownloadController::LineLost() {
  if (line_.downloadRunning.load()) {
    LogWarning("download: stopped, the serial line was lost");
    StopClick();
    return;
  }
  if (!line_.downloadRequested.load()) return;
  // The go-ahead has not come yet: nothing was paused or sent.
  LogWarning("download: called off before it started, the serial line was lost");
  grant_.Release();
  EnterPhase(Phase::Idle);
  view_.SetInputsEnabled(true);
  messages_.ShowMessage(kLineGone);
}

void DownloadController::AddDownloadTable(const std::string& tag,
                                          const std::filesystem::path& path) {
  std::lock_guard lock(mutex_);
  if (tables_.size() < static_cast<std::size_t>(kMaxTables)) tables_.push_back({tag, path});
}

void DownloadController::OnDownloadGoAhead() {
  // A second notification would prepare a second download and pause polling twice.
  if (line_.downloadRunning.load()) return;
  const bool requested = grant_.Holds();
  // Another activity holds the line (the go-ahead came without a start click, the
  // ordering software's own): this attempt ends. Else a go-ahead without a start
  // click takes the line now.
  const std::string_view refusal = line_.RefusalFor(LineUser::Download);
  if (!refusal.empty()) {
    grant_.Release();
  } else if (!requested) {
    grant_ = line_.Take(LineUser::Download, poller_).grant;
  }
  view_.SetStartStopCaption(kStartStopCaptionRunning);
  grant_.DownloadRuns();
  {
    std::lock_guard lock(mutex_);
    tables_.clear();
  }
  grant_.PausePolling();
  // The go-ahead came while another activity held the line: this attempt ends.
  if (!grant_.Holds()) {
    EndFailedAttempt(std::string(refusal));
    return;
  }
  if (!line_.portConnected.load()) {
    // A go-ahead nobody waits for any more (the line loss called the request off
    // and said so) ends quietly.
    LogWarning("download: go-ahead while the serial line is gone, nothing sent");
    EndFailedAttempt(requested ? kLineGone : "");
    return;
  }
  const std::uint64_t run = EnterPhase(Phase::Idle);
  timers_.After(kBeforeTablesMs, [this, run] {
    if (RunNumber() == run) PrepareAndBroadcast();  // else stopped during the pause
  });
}

void DownloadController::PrepareAndBroadcast() {
  std::array<bool, kDownloadTableCount> ticked{};
  for (int i = 0; i < kDownloadTableCount; ++i) ticked[i] = view_.TableTicked(i);
  const PreparedDownload prepared = PrepareDownload(txt_, ticked);
  for (const auto& table : prepared.tables) AddDownloadTable(table.tag, table.path);
  if (!prepared.error.empty()) {
    EndFailedAttempt(prepared.error);
    return;
  }
  // Written whole beside the old file and renamed: a failure keeps the old one.
  if (!WriteFileAtomically(txt_.ForWrite(kJobFileName), JobFileBytes(prepared.jobLines))) {
    EndFailedAttempt(kJobFileNotWritten);
    return;
  }
  view_.SetProgress({kPreparing, 0, static_cast<int>(prepared.jobLines.size())});
  const std::uint64_t run = EnterPhase(Phase::Broadcast);
  {
    std::lock_guard lock(mutex_);
    broadcastRuns_.push_back(MakeState(run, Phase::Broadcast));
  }
  if (!Post({"download", 0, [this](SendThread& t) { JobDownload(t); }})) {
    {
      std::lock_guard lock(mutex_);
      broadcastRuns_.pop_back();
    }
    EndFailedAttempt(kLineRefused);
  }
}

void DownloadController::StatusStep() {
  if (PhaseOf(state_.load()) != Phase::Status) {
    view_.SetStatusTimerEnabled(false);  // a late enable after the download ended or stopped
    return;
  }
  // A query posted behind a running job (a resend can take a minute) would go out
  // late and back to back with the next ones: ask on a later tick instead.
  if (send_ != nullptr && !send_->Idle()) return;

  int handset = -1;
  int pass = 0;
  {
    std::lock_guard lock(mutex_);
    if (targetNext_ >= target_.size()) {  // a pass is finished: ask who is left
      targetNext_ = 0;
      target_ = pending_;
      ++statusRound_;
    }
    if (!target_.empty() && statusRound_ < kStatusPasses) handset = target_[targetNext_++];
    pass = statusRound_ + 1;
  }
  if (handset < 0) {
    FinishDownload();
    return;
  }
  if (send_ != nullptr && !Post({"download status query", handset,
                                 [this, handset](SendThread& t) { JobStatusQuery(t, handset); }})) {
    std::lock_guard lock(mutex_);
    --targetNext_;  // not asked: the same handset on the next tick
    return;
  }
  // The status phase can take minutes: say who is being asked.
  view_.SetProgress({std::string(kConfiguring) + "第" + std::to_string(pass) + "遍，正在询问" +
                         HandsetText(handset),
                     1, 1});
}

std::string DownloadController::ReportOutcomes() {
  std::vector<int> failed;
  std::vector<int> silent;
  for (const auto& [handset, outcome] : Outcomes()) {
    LogInfo("download: handset " + ZeroPadded(handset, 3) + " " + OutcomeLogText(outcome));
    view_.ShowHandsetOutcome(handset, outcome);
    if (outcome == HandsetOutcome::Failed) failed.push_back(handset);
    if (outcome == HandsetOutcome::NoAnswer) silent.push_back(handset);
  }
  if (failed.empty() && silent.empty()) return kFinished;
  std::string text = kFinished;
  if (!failed.empty()) text += HandsetNames(failed) + "下载失败";
  if (!failed.empty() && !silent.empty()) text += "，";
  if (!silent.empty()) text += HandsetNames(silent) + "没有应答";
  return text + "，请检查后重新下载。";
}

void DownloadController::FinishDownload() {
  view_.SetStatusTimerEnabled(false);
  const std::uint64_t run = EnterPhase(Phase::Idle);
  // Until the last step the caption still reads "正在下载": a click now is a stop,
  // which takes over the page and the resume of polling.
  timers_.After(kBeforeEndAllMs, [this, run] {
    if (RunNumber() != run) return;
    if (send_ != nullptr &&
        !Post({"end of download", 0, [this](SendThread& t) { JobEndAll(t); }})) {
      LogWarning("download: the send queue refused the closing frames");
    }
    timers_.After(kAfterEndAllMs, [this, run] {
      if (RunNumber() != run) return;
      grant_.Release();
      view_.SetStartStopCaption(kStartStopCaptionIdle);
      view_.SetInputsEnabled(true);
      const std::string report = ReportOutcomes();
      view_.SetProgress({report});
      messages_.ShowMessage(report);
      std::lock_guard lock(mutex_);
      statusRound_ = 0;
    });
  });
}

// --------------------------------------------------------------- receive thread

void DownloadController::RemovePending(int handset) {
  std::lock_guard lock(mutex_);
  pending_.erase(std::remove(pending_.begin(), pending_.end(), handset), pending_.end());
}

void DownloadController::OnDownloadResult(const Message& result, LineWorker& receiver) {
  // Complete and failed are treated alike on the line: the handset is not asked
  // again. The end of the download tells them apart.
  view_.SetStatusTimerEnabled(false);
  RemovePending(result.handset);
  {
    const HandsetOutcome outcome =
        result.command == kCodeDownloadFailed ? HandsetOutcome::Failed : HandsetOutcome::Complete;
    std::lock_guard lock(mutex_);
    for (auto& [handset, kept] : outcomes_) {
      if (handset == result.handset) kept = outcome;
    }
  }
  receiver.Pause(kAfterResultMs);
  if (RoundActive()) view_.SetStatusTimerEnabled(true);
}

void DownloadController::OnResendRequest(const Message& request, LineWorker& receiver) {
  view_.SetStatusTimerEnabled(false);
  const auto jobLines = ReadJobFile();
  std::vector<ResendEntry> entries;
  if (jobLines) entries = ReadResendRanges(request.payload, *jobLines);
  if (send_ != nullptr) {
    // The job takes its own list, so a later answer cannot change it under the job.
    {
      std::lock_guard lock(mutex_);
      resendLists_.push_back(std::move(entries));
    }
    if (!Post({"download resend", request.handset,
               [this, handset = request.handset](SendThread& t) { JobResend(t, handset); }})) {
      // The handset stays pending: its next status query brings the ranges again.
      std::lock_guard lock(mutex_);
      resendLists_.pop_back();
      LogWarning("download: the send queue refused a resend");
    }
  }
  receiver.Pause(kAfterResendAskMs);
  if (RoundActive()) view_.SetStatusTimerEnabled(true);
}

void DownloadController::OnDiscardedPacket() {
  // A garbled answer must not stall the status phase; but switching on a running
  // timer would restart its interval, and steady noise would then stop every tick.
  if (RoundActive()) view_.StartStatusTimerIfStopped();
}

// ------------------------------------------------------------------ any thread

bool DownloadController::RoundActive() const { return PhaseOf(state_.load()) == Phase::Status; }

std::vector<int> DownloadController::TargetHandsets() const {
  std::lock_guard lock(mutex_);
  return target_;
}

std::vector<int> DownloadController::PendingHandsets() const {
  std::lock_guard lock(mutex_);
  return pending_;
}

int DownloadController::StatusRound() const {
  std::lock_guard lock(mutex_);
  return statusRound_;
}

std::vector<std::pair<int, HandsetOutcome>> DownloadController::Outcomes() const {
  std::lock_guard lock(mutex_);
  return outcomes_;
}

std::optional<std::vector<std::string>> DownloadController::ReadJobFile() const {
  auto lines = ReadTxtLines(txt_, kJobFileName);
  if (!lines) LogError(ReadFailureMessage(kJobFileName, lines.Failure(), "join.txt文件不存在"));
  return lines;
}

// ------------------------------------------------------------------ send thread

void DownloadController::ShowStoppedByJob() {
  int expected = NoticePending;
  // Before the stop's own text is out, the window shows this one after it.
  if (!stopNotice_.compare_exchange_strong(expected, JobNoticed)) {
    view_.SetProgress({kStoppedByJob});
  }
}

void DownloadController::JobDownload(SendThread& thread) {
  std::uint64_t started = 0;
  {
    std::lock_guard lock(mutex_);
    if (broadcastRuns_.empty()) return;  // nothing was prepared for it
    started = broadcastRuns_.front();
    broadcastRuns_.pop_front();
  }
  const auto stopped = [&] { return NumberOf(state_.load()) != NumberOf(started); };
  if (stopped()) return;  // stopped while it waited behind another job: nothing went out

  const auto lines = ReadJobFile();
  const std::size_t count = lines ? lines->size() : 0;
  std::vector<std::string> tags;
  {
    std::lock_guard lock(mutex_);
    for (const auto& table : tables_) tags.push_back(table.tag);
  }
  const std::string opening = QbksPayload(count, tags);
  for (int i = 0; i < kRepeatCount; ++i) {
    line_.ForgetReplyRoute();
    SendFrame(thread, kDefaultRoute, kCodeDownloadOpening, 0, 0, opening);
    if (!thread.Pause(kRepeatPauseMs)) return;
  }
  if (!thread.Pause(kAfterOpeningMs)) return;
  if (!lines) return;  // the user ends this download with the stop button

  const int total = static_cast<int>(count);
  for (std::size_t i = 0; i < count; ++i) {
    if (stopped()) {
      ShowStoppedByJob();
      return;
    }
    const std::string& line = (*lines)[i];
    const std::string wire = ToWireForm(line);
    if (wire.size() <= 12) continue;  // no record data: not sent, keeps its number
    view_.SetProgress({RecordProgressText(line), static_cast<int>(i), total});
    SendRecordFrame(thread, 0, ZeroPadded(static_cast<long long>(i + 1), 5), wire.size() - 12,
                    wire);
    if (!thread.Pause(kRecordPauseMs)) return;
  }
  if (stopped()) {
    ShowStoppedByJob();
    return;
  }
  view_.SetProgress({kConfiguring, total, total});
  if (!thread.Pause(kBeforeStatusMs)) return;
  // The status phase begins unless the download was stopped meanwhile.
  std::uint64_t expected = started;
  if (state_.compare_exchange_strong(expected, MakeState(NumberOf(started), Phase::Status))) {
    view_.SetStatusTimerEnabled(true);
  }
}

void DownloadController::JobStatusQuery(SendThread& thread, int handset) {
  line_.ForgetReplyRoute();
  SendFrame(thread, kDefaultRoute, kCodeDownloadStatusQuery, handset, 0, "");
}

void DownloadController::JobResend(SendThread& thread, int handset) {
  std::vector<ResendEntry> entries;
  {
    std::lock_guard lock(mutex_);
    if (!resendLists_.empty()) {
      entries = std::move(resendLists_.front());
      resendLists_.pop_front();
    }
  }
  line_.ForgetReplyRoute();
  SendFrame(thread, kDefaultRoute, kCodeResendOpening, handset, 0, "");
  if (!thread.Pause(kAfterResendOpenMs)) return;
  thread.Touch();
  for (const auto& entry : entries) {
    const std::string wire = ToWireForm(entry.jobLine);
    if (wire.size() <= 12) continue;  // a line without record data has nothing to send
    SendRecordFrame(thread, handset, entry.recordNumber, wire.size() - 12, wire);
    if (!thread.Pause(kRecordPauseMs)) return;
  }
  line_.ForgetReplyRoute();
  SendFrame(thread, kDefaultRoute, kCodeResendClosing, handset, 0, "");
}

void DownloadController::JobEndAll(SendThread& thread) {
  for (int i = 0; i < kRepeatCount; ++i) {
    line_.ForgetReplyRoute();
    SendFrame(thread, kDefaultRoute, kCodeDownloadEnd, 0, 0, "");
    if (!thread.Pause(kRepeatPauseMs)) return;
  }
}

}  // namespace orderlink
