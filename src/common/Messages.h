#pragma once
// Messages the user must see (the system's modal message boxes). Texts are UTF-8.
// The window side shows a box and also writes "message: <text>" to stderr.
// Called on the window thread the call returns after the user's OK; called from a
// worker thread it is queued to the window thread and never waits.

#include <string>

namespace orderlink {

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  virtual void ShowMessage(const std::string& utf8Text) = 0;
};

}  // namespace orderlink
