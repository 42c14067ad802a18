#pragma once
// Scripted user actions for recorded sessions: with ORDERLINK_UI_CONTROL=PATH the
// program listens on a Unix datagram socket at PATH (created mode 0600, in a folder
// the caller owns) and does what each datagram says, on the window thread, as a
// user's click or typing would. This is how a session that needs the pages (a
// download, a link test, a station's configuration, a login) is recorded from the
// simulators and replayed (tools/replay). One action a datagram, UTF-8:
//
//   show TAB               the main window shown on that tab (downloadTab, testTab...)
//   click PATH             a button clicked (also a check box or a radio button)
//   text PATH VALUE        a line edit's text, or a combo box's current text, set
//   select PATH ITEM       the tree item with that text made the current one
//
// PATH is object names joined by '/', the first one looked for among all windows
// ("loginForm/passwordEdit", "downloadTab/startStopButton"). An action that names no
// such control or does not fit it is logged and dropped. Each action done is handed
// to `done` (the session sidecar) before it takes effect, so the recording holds it
// ahead of what it causes.

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>
#include <string>

namespace orderlink {

class UiControl final : public QObject {
 public:
  using ActionDone = std::function<void(const std::string& action)>;

  // A listening control when ORDERLINK_UI_CONTROL is set and the socket could be
  // made (else logged), otherwise null.
  [[nodiscard]] static std::unique_ptr<UiControl> FromEnvironment(ActionDone done);
  ~UiControl() override;
  UiControl(const UiControl&) = delete;
  UiControl& operator=(const UiControl&) = delete;

  // Does one action; the reason when it cannot be done (nothing happened then).
  [[nodiscard]] std::string Perform(const std::string& action);

 private:
  UiControl(int fd, std::string path, ActionDone done);
  void ReadActions();

  const int fd_;
  const std::string path_;
  ActionDone done_;
  QSocketNotifier watch_;
};

}  // namespace orderlink
