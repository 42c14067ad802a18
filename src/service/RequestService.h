#pragma once
// The handset request service: requests to T1.txt for the host, the host's replies
// (R1.txt) and short messages (DX.txt) back to the handsets, and the time answer.
//
// Threads: OnRequest and OnTimeQuery run on the receive thread (from the app's
// LinkHandlers); OnHostReply, OnHostShortMessage, ConnectLine and AddHandset on the
// window thread; the jobs on the send thread. A text a job sends (the time answer,
// the short message) is posted with the job itself, so no poster waits for a job and
// no thread holds a second lock beside a worker's own.

#include <atomic>
#include <ctime>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/Clock.h"
#include "common/HandsetListView.h"
#include "common/HostLink.h"
#include "common/MessageSink.h"
#include "common/TxtDir.h"
#include "common/WindowTimers.h"
#include "link/FrameParser.h"
#include "link/HandsetPoller.h"
#include "link/LineActivity.h"
#include "link/SendThread.h"
#include "service/RequestDispatch.h"

namespace orderlink {

// Shown once per burst of refusals when the send thread's queue is full and a host's
// answer cannot go out.
inline constexpr std::string_view kReplyNotQueued =
    "发送队列已满，这次回复没有发出，请让点菜机重新发送。";
inline constexpr std::string_view kShortMessageNotQueued =
    "发送队列已满，短信没有发出，请稍后重发。";
// Shown when the ordering software answers again after a request it left unanswered.
inline constexpr std::string_view kHostAnswersAgain = "点菜软件已恢复应答。";

// The notice when a request's wait for the ordering software ran out unanswered.
[[nodiscard]] std::string HostSilentNotice(const std::string& handsetText);
// The notice when T1.txt could not be replaced: the file, the reason (`systemError`)
// and the handset whose request was lost.
[[nodiscard]] std::string RecordLostNotice(const std::filesystem::path& recordPath, int systemError,
                                           const std::string& handsetText);

class RequestService : public HandsetListView {
 public:
  using LocalTimeSource = std::function<std::tm()>;
  // Runs a call on the window thread soon; called from any thread, never waits.
  using WindowPost = std::function<void(std::function<void()>)>;
  // The computer's local date and time.
  static std::tm CurrentLocalTime();

  // `marker` may be null (no monitor). `localTime` is where time answers take the time.
  // `timers` runs the window thread's delayed steps; `toWindow` carries the receive
  // thread's requests for them there. `clock` times the host's answers.
  RequestService(TxtDir txt, HostLink& host, MessageSink& messages, WindowTimers& timers,
                 SwitchOnMarker* marker, Clock& clock, WindowPost toWindow,
                 LocalTimeSource localTime = CurrentLocalTime);

  // Window thread, before the send thread starts: replies, short messages, their
  // confirmations and time answers go out through `thread` (time queries are not
  // answered without it) and take their route from `line`, which must outlive them.
  void ConnectLine(SendThread& thread, LineActivity& line);
  // The delivery of R1.txt as it is when the work starts, for the send thread.
  [[nodiscard]] LineWork ReplyWork();

  // Receive thread: a complete request frame (any code the link does not route
  // elsewhere); see DispatchRequest. `receiver` is that thread, whose HoldOff asks
  // the poller for quiet. A request T1.txt cannot take is lost: the user is told
  // once per cause until a record is written again. A notified request that the host
  // leaves unanswered for kAwaitReplyHoldOffMs is logged; the first one of a silence
  // is shown to the user, and the host's next answer ends the silence with a notice.
  void OnRequest(const Message& request, LineWorker& receiver);
  // Receive thread: the header-only kCodeTime. Answers the handset of the last frame that
  // had content (0 before any) with the time of this query. Never waits.
  void OnTimeQuery(const Message& query);

  // Window thread, host code 1 (R1.txt holds a reply): posts job 1, and 10 ms later
  // (a delayed call, the window never sleeps) clears the hold-offs so polling can
  // resume after the reply. A notice that comes while a reply job is still waiting
  // to start is the same reply: it is merged into that job (counted and logged when
  // the job starts), so a burst of notices queues at most one job. A reply the send
  // thread refuses while it runs (a full queue) is shown to the user once per burst of
  // refusals (a notice, never a box). Either pointer may be null; the poller must
  // outlive `timers`.
  void OnHostReply(SendThread* sendThread, HandsetPoller* poller);
  // Window thread, host code 0 (DX.txt holds a short message). A missing file, or a
  // text too long for one message, is shown to the user and nobody gets anything; a
  // target that is no handset of this station is dropped. The
  // message is read once here and posted with job 4 (after the confirmation, job 6),
  // so the text confirmed to the sender is the text the target gets, whatever happens
  // to the file meanwhile. A message the send thread refuses is shown to the user once
  // per burst of refusals, as a reply is.
  void OnHostShortMessage(SendThread* sendThread);

  // Window thread, start-up: the handsets a short message may go to.
  void AddHandset(const std::string& text) override;

 private:
  // The request whose answer the host owes (the latest one notified).
  struct AwaitedRequest {
    std::uint64_t id = 0;
    std::string code;
    std::string handsetText;
    std::int64_t notifiedAtMs = 0;
  };
  // The request last passed on, until the next one.
  struct PassedRequest {
    std::string code;
    std::string handsetText;
    std::int64_t notifiedAtMs = 0;
    std::uint8_t address = 0;  // the frame's sender
    std::string payload;
    bool replyDelivered = false;  // its handset got "FHJS" since
  };
  void AwaitAnswer(const DispatchResult& result, std::string_view code, const Message& request);
  // The request last passed on once more, at once and before its handset got an
  // answer: a copy the radio delivered twice. The handset's text then.
  [[nodiscard]] std::optional<std::string> CopyOfLastRequest(const Message& request,
                                                             std::string_view code);
  // Send thread: a reply ended with "FHJS" to `handset`.
  void ReplyDelivered(std::uint8_t handset);
  void CheckAnswered(std::uint64_t id);
  void NoteAnswer();
  void ReportLostRecord(const DispatchResult& result, std::string_view code);
  void PostReply(SendThread& sendThread);
  // Send thread, as a reply job starts: the notices merged into it.
  int TakeWaitingReply();
  // Shows `text` unless this burst of refusals was already reported (`*shown`).
  void ReportRefusal(bool* shown, std::string_view text);

  TxtDir txt_;
  HostLink& host_;
  MessageSink& messages_;
  WindowTimers& timers_;
  SwitchOnMarker* marker_;
  Clock& clock_;
  WindowPost toWindow_;
  LocalTimeSource localTime_;
  std::vector<std::string> handsets_;
  std::atomic<SendThread*> sendThread_{nullptr};
  LineActivity* line_ = nullptr;  // set with sendThread_, before it

  // Reply jobs. Set by the window thread as it posts one, cleared by the job as it
  // starts (before it reads R1.txt, so a notice that saw it set is always answered
  // with the file the notice announced). Atomics: the job runs under the send thread's
  // lock, and no code holds a second one beside it.
  std::atomic<bool> replyWaiting_{false};
  std::atomic<int> mergedNotices_{0};  // notices taken into the waiting job
  // Window thread only.
  std::atomic<bool> holdOffClearPending_{false};  // read and set by the clearing timer too
  bool replyRefusalShown_ = false;
  bool shortMessageRefusalShown_ = false;

  // The host's answers: answerMutex_ guards these (receive, window and send thread).
  std::mutex answerMutex_;
  std::optional<AwaitedRequest> awaited_;
  std::optional<PassedRequest> lastRequest_;
  std::uint64_t lastRequestId_ = 0;
  bool hostSilent_ = false;  // a request went unanswered and no answer came since
  int unansweredInSilence_ = 0;

  // Receive thread only: errno of the last failed T1.txt write, 0 while it is written.
  int recordWriteError_ = 0;
};

}  // namespace orderlink
