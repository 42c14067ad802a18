#include "access/LoginSession.h"

#include "access/AccessFiles.h"

namespace orderlink {

LoginSession::SubmitResult LoginSession::Submit(std::string_view userUtf8,
                                                std::string_view passwordUtf8) {
  if (!WriteLoginFile(txt_, userUtf8, passwordUtf8)) return SubmitResult::NotWritten;
  if (debugMode_) {
    loggedIn_ = true;
    return SubmitResult::LoggedIn;
  }
  host_.Notify(NotifyLogin);
  return SubmitResult::AwaitingVerdict;
}

LoginSession::VerdictResult LoginSession::TakeVerdict() {
  if (loggedIn_) return VerdictResult::None;
  switch (ReadLoginVerdict(txt_)) {
    case LoginVerdict::NoFile: return VerdictResult::None;
    case LoginVerdict::Accepted: loggedIn_ = true; return VerdictResult::Accepted;
    case LoginVerdict::Refused: return VerdictResult::Refused;
  }
  return VerdictResult::None;
}

LoginSession::TimerResult LoginSession::OnTimer(bool formShowing, bool mainWindowVisible) const {
  if (loggedIn_) return TimerResult::StopAndClose;
  if (!formShowing && mainWindowVisible) return TimerResult::ShowForm;
  return TimerResult::Nothing;
}

}  // namespace orderlink
