#pragma once
// The menu download: the start/stop button, the preparation of join.txt, the
// broadcast of its records, the resend of missing records and the status phase
// that asks every selected handset how its download went.
//
// Threads:
//   window thread   StartOrStopDownload, OnDownloadGoAhead (host notification 11),
//                   StatusStep, and the
//                   delayed steps they schedule through WindowTimers; none of them sleeps
//   send thread     the broadcast, status queries, resends and the closing frames
//   receive thread  OnDownloadResult (kCodeDownloadComplete/kCodeDownloadFailed), OnResendRequest
//   (kCodeDownloadRecordsMissing),
//                   OnDiscardedPacket; they may pause but never wait for the window
//   any thread      the accessors
// Every change a worker makes to the page goes through DownloadView's queued calls.
//
// One small mutex guards the handset lists, the table registry and the queued
// resend lists and broadcast runs; it is never held while anything else is called.
//
// A download's phase and its run number live in one atomic. A start click, a stop
// and the end each start a new number, so a broadcast job of an earlier download
// sees that it was stopped even when a new download has started since, and a
// delayed step of the window (the pauses after a stop, before the tables are read,
// around the closing frames) that finds a newer number leaves the page to the newer
// run. Every pause of polling is still resumed exactly once. A tick of the status timer
// that comes outside the status phase (a late queued enable) switches the timer off.
//
// The line holds one activity at a time: from the start click that asks the host
// for the tables (downloadRequested) until the download ends or is stopped
// (downloadRunning), the link test and the base-station dialogue refuse to start;
// a go-ahead that finds one of them running ends this attempt instead.

#include <atomic>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/HostLink.h"
#include "common/MessageSink.h"
#include "common/TxtDir.h"
#include "common/WindowTimers.h"
#include "download/DownloadTables.h"
#include "download/DownloadView.h"
#include "download/DownloadWire.h"
#include "link/LineActivity.h"
#include "link/SendThread.h"

namespace orderlink {

class HandsetPoller;
class LineWorker;
struct Message;

inline constexpr char kStartStopCaptionFirst[] = "开始下传";
inline constexpr char kStartStopCaptionRunning[] = "正在下载";
inline constexpr char kStartStopCaptionIdle[] = "开始下载";

class DownloadController {
 public:
  static constexpr int kMaxHandsets = 256;
  static constexpr int kMaxTables = 21;
  static constexpr int kStatusPasses = 10;

  // `sendThread` and `poller` may be null. `view` must outlive every job and
  // receive-thread call of this controller; `timers` runs the window's pauses and
  // must drop its pending calls before this controller goes. `line` must outlive it.
  DownloadController(TxtDir txt, WindowTimers& timers, HostLink& host, MessageSink& messages,
                     DownloadView& view, SendThread* sendThread, HandsetPoller* poller,
                     LineActivity& line);
  DownloadController(const DownloadController&) = delete;
  DownloadController& operator=(const DownloadController&) = delete;

  // ---- Window thread.
  // Click on the start/stop button: stops a running download, else checks the selection
  // and asks the host for the tables (HostNotify 11). Refused while a link test or
  // a base-station dialogue holds the line.
  void StartOrStopDownload();
  // The serial line was lost: a running download stops as by the stop button; one
  // that waits for the host's go-ahead is called off with a message.
  void LineLost();
  // The host's go-ahead (answer 11): checks the ticked tables, writes join.txt and
  // starts the broadcast. Ignored while a download runs; ends the attempt
  // (EndFailedAttempt, then a message) when a link test or a base-station dialogue
  // holds the line.
  void OnDownloadGoAhead();
  // One 200 ms step of the status phase (a tick of the page's status timer).
  void StatusStep();
  // Stores a table for the kCodeDownloadOpening frame (at most kMaxTables). OnDownloadGoAhead calls
  // it.
  void AddDownloadTable(const std::string& tag, const std::filesystem::path& path);

  // ---- Receive thread. `receiver` is that thread: the pauses after an answer are
  // its own (they end early when it is told to end).
  void OnDownloadResult(const Message& result, LineWorker& receiver);
  void OnResendRequest(const Message& request, LineWorker& receiver);
  void OnDiscardedPacket();

  // ---- Any thread.
  // The status phase is running (answers re-arm the status timer).
  [[nodiscard]] bool RoundActive() const;
  // Handsets asked in the current pass and those that have not answered yet.
  [[nodiscard]] std::vector<int> TargetHandsets() const;
  [[nodiscard]] std::vector<int> PendingHandsets() const;
  [[nodiscard]] int StatusRound() const;
  // How each handset of the current or last download ended so far, in target order.
  [[nodiscard]] std::vector<std::pair<int, HandsetOutcome>> Outcomes() const;

 private:
  enum class Phase : std::uint64_t { Idle = 0, Broadcast = 1, Status = 2 };
  // Who shows "下载被终止！" of a stopped broadcast: it must follow the stop's own
  // text, which the window shows only after its pause.
  enum StopNotice : int { NoticePending = 0, ClickTextShown = 1, JobNoticed = 2 };

  static std::uint64_t MakeState(std::uint64_t number, Phase phase) {
    return (number << 2) | static_cast<std::uint64_t>(phase);
  }
  static std::uint64_t NumberOf(std::uint64_t state) { return state >> 2; }
  static Phase PhaseOf(std::uint64_t state) { return static_cast<Phase>(state & 3); }
  // Window thread: a new download number in `phase`; returns that number.
  std::uint64_t EnterPhase(Phase phase);
  [[nodiscard]] std::uint64_t RunNumber() const { return NumberOf(state_.load()); }
  // Posts work; false when there is no send thread or it refused the work.
  [[nodiscard]] bool Post(LineWork work);
  // The line is free for other activities now; the pause of polling this run holds
  // ends after `ms`, then `then` runs.
  void ReleaseLineAfter(int ms, std::function<void()> then);

  void StopClick();
  // Ends an attempt that failed: the page is idle at once, polling resumes after
  // the pause and then `message` is shown (nothing when it is empty).
  void EndFailedAttempt(const std::string& message);
  void PrepareAndBroadcast();
  void FinishDownload();
  // The end text: "下载完毕！" alone when every handset completed, else naming the
  // handsets that failed or did not answer. Logs one line per handset.
  [[nodiscard]] std::string ReportOutcomes();
  // Send thread: a stopped broadcast shows its text, after the stop's own.
  void ShowStoppedByJob();
  void RemovePending(int handset);
  [[nodiscard]] std::optional<std::vector<std::string>> ReadJobFile() const;

  void JobDownload(SendThread& thread);
  void JobStatusQuery(SendThread& thread, int handset);
  void JobResend(SendThread& thread, int handset);
  void JobEndAll(SendThread& thread);

  TxtDir txt_;
  WindowTimers& timers_;
  HostLink& host_;
  MessageSink& messages_;
  DownloadView& view_;
  SendThread* send_;
  HandsetPoller* poller_;
  LineActivity& line_;
  LineGrant grant_;  // from the start click (or go-ahead) to the end: the line, and polling
                     // paused once it runs

  std::atomic<std::uint64_t> state_{MakeState(0, Phase::Idle)};
  std::atomic<int> stopNotice_{NoticePending};

  mutable std::mutex mutex_;  // guards the members below
  std::vector<int> target_;
  std::size_t targetNext_ = 0;
  std::vector<int> pending_;
  int statusRound_ = 0;
  std::vector<std::pair<int, HandsetOutcome>> outcomes_;  // every target, in order
  std::vector<RegisteredTable> tables_;
  std::deque<std::vector<ResendEntry>> resendLists_;  // one per posted resend job, in order
  std::deque<std::uint64_t> broadcastRuns_;           // state of each posted broadcast, in order
};

}  // namespace orderlink
