#pragma once
// Messages the user must see. Texts are UTF-8. The window side also writes
// "message: <text>" to stderr for each of them.
//
// ShowMessage is the system's modal message box: called on the window thread it
// returns after the user's OK; called from a worker thread it is queued to the
// window thread and never waits.
// ShowNotice tells of a change the user should know about without stopping
// anything (the serial line lost or back): a status line or tray balloon that never
// waits and never opens a nested event loop. Any thread.

#include <string>

namespace orderlink {

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  virtual void ShowMessage(const std::string& utf8Text) = 0;
  // A sink without a quieter way shows the notice as a message.
  virtual void ShowNotice(const std::string& utf8Text) { ShowMessage(utf8Text); }
  // A message after which start-up stops; shown as ShowMessage, logged as an error.
  virtual void ShowStartFailure(const std::string& utf8Text) { ShowMessage(utf8Text); }
};

}  // namespace orderlink
