#pragma once
// The login of the person at the PC. The ordering software verifies user name and
// password: the login writes DL.txt and posts NotifyLogin; the verdict comes back in
// DL.txt with NotifyLogin. In debug mode there is no ordering software and any entry
// is accepted at once. Window thread only.

#include <string>
#include <string_view>

#include "common/HostLink.h"
#include "common/TxtDir.h"

namespace orderlink {

class LoginSession {
 public:
  LoginSession(TxtDir txt, HostLink& host, bool debugMode)
      : txt_(std::move(txt)), host_(host), debugMode_(debugMode) {}

  enum class SubmitResult {
    InputRefused,     // a field holds what DL.txt cannot carry; nothing was written
    NotWritten,       // DL.txt could not be written; nothing was posted
    LoggedIn,         // debug mode: accepted at once
    AwaitingVerdict,  // NotifyLogin posted; the verdict comes as a notification
  };
  struct Submitted {
    SubmitResult result;
    std::string message;  // UTF-8, to show for InputRefused and NotWritten
  };
  [[nodiscard]] Submitted Submit(std::string_view userUtf8, std::string_view passwordUtf8);

  enum class VerdictResult {
    None,        // no answer in DL.txt, or somebody is logged in already: nothing to do
    Unreadable,  // DL.txt cannot be read: the message says why
    Accepted,    // now logged in
    Refused,
  };
  struct Verdict {
    VerdictResult result;
    std::string message;  // UTF-8, for Unreadable
  };
  // The ordering software's verdict has arrived (NotifyLogin). A refusal or an
  // unreadable DL.txt is given once: the same verdict again before the next Submit
  // comes from a repeated notice (a flood of them would show one box each) and gives
  // None.
  [[nodiscard]] Verdict TakeVerdict();

  enum class PromptAction { Nothing, ShowForm, StopAndClose };
  // The 500 ms timer of the login form.
  [[nodiscard]] PromptAction OnPromptTick(bool formShowing, bool mainWindowVisible) const;

  [[nodiscard]] bool LoggedIn() const { return loggedIn_; }

 private:
  [[nodiscard]] Verdict GiveOnce(Verdict verdict);

  TxtDir txt_;
  HostLink& host_;
  bool debugMode_;
  bool loggedIn_ = false;   // set once, never reset during the run
  std::string ownRequest_;  // the DL.txt content of the last login sent
  // The refusal or read failure given since the last Submit (None: none).
  Verdict lastGiven_{VerdictResult::None, {}};
};

}  // namespace orderlink
