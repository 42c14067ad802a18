#pragma once
// The handset request service: requests to T1.txt for the host, the host's replies
// (R1.txt) and short messages (DX.txt) back to the handsets, and the time answer.
//
// Threads: OnRequest and OnTimeQuery run on the receive thread (from the app's
// RcvHandlers); OnHostReply, OnHostShortMessage, RegisterJobs and AddHandset on the
// window thread; the jobs on the send thread. Texts handed from those threads to a
// job are swapped through atomics, never under a lock, so no thread ever holds a
// second lock beside a worker's own.

#include <atomic>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/HandsetListView.h"
#include "common/HostLink.h"
#include "common/Messages.h"
#include "common/TxtDir.h"
#include "link/TComCtr.h"
#include "link/TRcvThread.h"
#include "link/TSendThread.h"
#include "service/RequestDispatch.h"

namespace orderlink {

class RequestService : public HandsetListView {
 public:
  using LocalTimeSource = std::function<std::tm()>;
  // The computer's local date and time.
  static std::tm CurrentLocalTime();

  // `marker` may be null (no monitor). `localTime` is where time answers take the time.
  RequestService(TxtDir txt, HostLink& host, MessageSink& messages, SwitchOnMarker* marker,
                 LocalTimeSource localTime = CurrentLocalTime);

  // Window thread, before the send thread starts: registers jobs 1 (reply), 4 (short
  // message), 6 (its confirmation) and 7 (time answer). Time queries are answered
  // through this thread; without it they are not answered.
  void RegisterJobs(TSendThread& thread);

  // Receive thread: a complete request frame (any code the link does not route
  // elsewhere); see DispatchRequest.
  void OnRequest(TRcvThread& thread);
  // Receive thread: the header-only "SJCX". Answers the handset of the last frame that
  // had content (0 before any). Waits while the send thread runs another job.
  void OnTimeQuery(TRcvThread& thread);

  // Window thread, host code 1 (R1.txt holds a reply): posts job 1, then clears the
  // hold-offs so polling can resume after the reply. Either pointer may be null.
  void OnHostReply(TSendThread* sendThread, TComCtr* poller);
  // Window thread, host code 0 (DX.txt holds a short message). A missing file is
  // shown to the user; a target that is no handset of this station is dropped. The
  // message is read once here, so the text confirmed to the sender is the text the
  // target gets, whatever happens to the file meanwhile.
  void OnHostShortMessage(TSendThread* sendThread);

  // Window thread, start-up: the handsets a short message may go to.
  void AddHandset(const std::string& text) override;

 private:
  using SharedText = std::atomic<std::shared_ptr<const std::string>>;

  TxtDir txt_;
  HostLink& host_;
  MessageSink& messages_;
  SwitchOnMarker* marker_;
  LocalTimeSource localTime_;
  std::vector<std::string> handsets_;
  std::atomic<TSendThread*> sendThread_{nullptr};
  // Written by the receive thread before it posts job 7; read by the job.
  SharedText timeReply_{std::make_shared<const std::string>()};
  // Stored by the window thread between posting jobs 6 and 4; taken by job 4.
  SharedText pendingMessage_;
};

}  // namespace orderlink
