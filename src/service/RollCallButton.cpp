#include "service/RollCallButton.h"

namespace orderlink {

std::string RollCallButton::Click() {
  if (poller_ == nullptr) return Caption();
  switch (state_) {
    case State::NotStarted:
      poller_->Start(kPollRate);
      state_ = State::Polling;
      break;
    case State::Polling:
      poller_->PausePolling();
      state_ = State::Paused;
      break;
    case State::Paused:
      poller_->ResumePolling();
      state_ = State::Polling;
      break;
  }
  return Caption();
}

std::string RollCallButton::Caption() const {
  switch (state_) {
    case State::NotStarted:
      return std::string(kStartCaption);
    case State::Polling:
      return std::string(kPauseCaption);
    case State::Paused:
      return std::string(kResumeCaption);
  }
  return {};
}

}  // namespace orderlink
