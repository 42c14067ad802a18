#pragma once
// The handset request service: requests to T1.txt for the host, the host's replies
// (R1.txt) and short messages (DX.txt) back to the handsets, and the time answer.
//
// Threads: OnRequest and OnTimeQuery run on the receive thread (from the app's
// LinkHandlers); OnHostReply, OnHostShortMessage, RegisterJobs and AddHandset on the
// window thread; the jobs on the send thread. A text a job sends (the time answer,
// the short message) is posted with the job itself, so no poster waits for a job and
// no thread holds a second lock beside a worker's own.

#include <atomic>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/HandsetListView.h"
#include "common/HostLink.h"
#include "common/Messages.h"
#include "common/TxtDir.h"
#include "common/WindowTimers.h"
#include "link/FrameParser.h"
#include "link/HandsetPoller.h"
#include "link/LineActivity.h"
#include "link/SendThread.h"
#include "service/RequestDispatch.h"

namespace orderlink {

// Shown when the send thread's queue is full and a host's answer cannot go out.
inline constexpr std::string_view kReplyNotQueued =
    "发送队列已满，这次回复没有发出，请让点菜机重新发送。";
inline constexpr std::string_view kShortMessageNotQueued =
    "发送队列已满，短信没有发出，请稍后重发。";

class RequestService : public HandsetListView {
 public:
  using LocalTimeSource = std::function<std::tm()>;
  // The computer's local date and time.
  static std::tm CurrentLocalTime();

  // `marker` may be null (no monitor). `localTime` is where time answers take the time.
  // `timers` runs the window thread's delayed steps.
  RequestService(TxtDir txt, HostLink& host, MessageSink& messages, WindowTimers& timers,
                 SwitchOnMarker* marker, LocalTimeSource localTime = CurrentLocalTime);

  // Window thread, before the send thread starts: registers jobs 1 (reply), 4 (short
  // message), 6 (its confirmation) and 7 (time answer). Time queries are answered
  // through this thread; without it they are not answered. The answers take their
  // route from `line`, which must outlive the jobs.
  void RegisterJobs(SendThread& thread, LineActivity& line);

  // Receive thread: a complete request frame (any code the link does not route
  // elsewhere); see DispatchRequest. `receiver` is that thread, whose HoldOff asks
  // the poller for quiet.
  void OnRequest(const Message& request, LineWorker& receiver);
  // Receive thread: the header-only "SJCX". Answers the handset of the last frame that
  // had content (0 before any) with the time of this query. Never waits.
  void OnTimeQuery(const Message& query);

  // Window thread, host code 1 (R1.txt holds a reply): posts job 1, and 10 ms later
  // (a delayed call, the window never sleeps) clears the hold-offs so polling can
  // resume after the reply. A reply the send thread refuses while it runs (a full
  // queue) is shown to the user. Either pointer may be null; the poller must outlive
  // `timers`.
  void OnHostReply(SendThread* sendThread, HandsetPoller* poller);
  // Window thread, host code 0 (DX.txt holds a short message). A missing file, or a
  // text too long for one message, is shown to the user and nobody gets anything; a
  // target that is no handset of this station is dropped. The
  // message is read once here and posted with job 4 (after the confirmation, job 6),
  // so the text confirmed to the sender is the text the target gets, whatever happens
  // to the file meanwhile. A message the send thread refuses is shown to the user.
  void OnHostShortMessage(SendThread* sendThread);

  // Window thread, start-up: the handsets a short message may go to.
  void AddHandset(const std::string& text) override;

 private:
  TxtDir txt_;
  HostLink& host_;
  MessageSink& messages_;
  WindowTimers& timers_;
  SwitchOnMarker* marker_;
  LocalTimeSource localTime_;
  std::vector<std::string> handsets_;
  std::atomic<SendThread*> sendThread_{nullptr};
};

}  // namespace orderlink
