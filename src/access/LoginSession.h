#pragma once
// The login of the person at the PC. The ordering software verifies user name and
// password: the login writes DL.txt and posts NotifyLogin; the verdict comes back in
// DL.txt with NotifyLogin. In debug mode there is no ordering software and any entry
// is accepted at once. Window thread only.

#include <string_view>

#include "common/HostLink.h"
#include "common/TxtDir.h"

namespace orderlink {

class LoginSession {
 public:
  LoginSession(TxtDir txt, HostLink& host, bool debugMode)
      : txt_(std::move(txt)), host_(host), debugMode_(debugMode) {}

  enum class SubmitResult {
    NotWritten,       // DL.txt could not be written; nothing was posted
    LoggedIn,         // debug mode: accepted at once
    AwaitingVerdict,  // NotifyLogin posted; the verdict comes as a notification
  };
  SubmitResult Submit(std::string_view userUtf8, std::string_view passwordUtf8);

  enum class VerdictResult {
    None,      // no DL.txt, or somebody is logged in already: nothing to do
    Accepted,  // now logged in
    Refused,
  };
  // The ordering software's verdict has arrived (NotifyLogin).
  VerdictResult TakeVerdict();

  enum class TimerResult { Nothing, ShowForm, StopAndClose };
  // The 500 ms timer of the login form.
  [[nodiscard]] TimerResult OnTimer(bool formShowing, bool mainWindowVisible) const;

  [[nodiscard]] bool LoggedIn() const { return loggedIn_; }

 private:
  TxtDir txt_;
  HostLink& host_;
  bool debugMode_;
  bool loggedIn_ = false;  // set once, never reset during the run
};

}  // namespace orderlink
