#include "service/RollCallButton.h"

namespace orderlink {

std::string RollCallButton::Click() {
  if (poller_ == nullptr) return caption_;
  if (caption_ == kStartCaption) {
    poller_->Start(kPollRate);
    caption_ = kPauseCaption;
  } else if (caption_ == kPauseCaption) {
    poller_->PausePolling();
    caption_ = kResumeCaption;
  } else {
    poller_->ResumePolling();
    caption_ = kPauseCaption;
  }
  return caption_;
}

}  // namespace orderlink
