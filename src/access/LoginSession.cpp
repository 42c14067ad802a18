#include "access/LoginSession.h"

#include "access/AccessFiles.h"
#include "common/Log.h"

namespace orderlink {

LoginSession::Submitted LoginSession::Submit(std::string_view userUtf8,
                                             std::string_view passwordUtf8) {
  const TypedText line = LoginLine(userUtf8, passwordUtf8);
  if (!line.Ok()) return {SubmitResult::InputRefused, line.problem};
  const std::string request = LoginFileBytes(line.gbk);
  if (!WriteLoginFile(txt_, request)) {
    return {SubmitResult::NotWritten, "DL.txt文件无法写入，登录未能发出！"};
  }
  ownRequest_ = request;
  lastGiven_ = {VerdictResult::None, {}};
  if (debugMode_) {
    loggedIn_ = true;
    return {SubmitResult::LoggedIn, {}};
  }
  host_.Notify(NotifyLogin);
  return {SubmitResult::AwaitingVerdict, {}};
}

LoginSession::Verdict LoginSession::TakeVerdict() {
  if (loggedIn_) return {VerdictResult::None, {}};
  const LoginVerdictRead read = ReadLoginVerdict(txt_, ownRequest_);
  switch (read.verdict) {
    case LoginVerdict::NoFile:
      return {VerdictResult::None, {}};
    case LoginVerdict::NotAnswered:
      LogWarning(
          "NotifyLogin came while DL.txt still holds the login request; waiting for the "
          "ordering software's verdict");
      return {VerdictResult::None, {}};
    case LoginVerdict::Unreadable:
      return GiveOnce({VerdictResult::Unreadable, read.problem});
    case LoginVerdict::Accepted:
      loggedIn_ = true;
      return {VerdictResult::Accepted, {}};
    case LoginVerdict::Refused:
      return GiveOnce({VerdictResult::Refused, {}});
  }
  return {VerdictResult::None, {}};
}

LoginSession::Verdict LoginSession::GiveOnce(Verdict verdict) {
  if (verdict.result == lastGiven_.result && verdict.message == lastGiven_.message) {
    return {VerdictResult::None, {}};
  }
  lastGiven_ = verdict;
  return verdict;
}

LoginSession::PromptAction LoginSession::OnPromptTick(bool formShowing,
                                                      bool mainWindowVisible) const {
  if (loggedIn_) return PromptAction::StopAndClose;
  if (!formShowing && mainWindowVisible) return PromptAction::ShowForm;
  return PromptAction::Nothing;
}

}  // namespace orderlink
