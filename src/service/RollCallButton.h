#pragma once
// The roll-call button (rollCallButton, hidden on the main window): each click works
// the poller and moves the button to its next state, which its caption shows. The window owns the
// QPushButton; it calls Click() and shows the caption returned.

#include <string>
#include <string_view>

#include "link/HandsetPoller.h"

namespace orderlink {

class RollCallButton {
 public:
  static constexpr std::string_view kStartCaption = "开始点名";  // initial: poller to start
  static constexpr std::string_view kPauseCaption = "暂停";      // polling runs
  static constexpr std::string_view kResumeCaption = "点名";     // polling paused
  static constexpr int kPollRate = 15;                           // polls per second, as at start-up

  // `poller` may be null: clicks then change nothing.
  explicit RollCallButton(HandsetPoller* poller) : poller_(poller) {}

  // Window thread. "开始点名" starts the poller and "暂停" pauses it (both then read
  // the next caption), "点名" resumes it. Returns the new caption. Never waits for a
  // job on the line: restarting the poller's timer takes at most one tick.
  std::string Click();
  [[nodiscard]] std::string Caption() const;

 private:
  enum class State { NotStarted, Polling, Paused };
  HandsetPoller* poller_;
  State state_ = State::NotStarted;
};

}  // namespace orderlink
