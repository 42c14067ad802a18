#pragma once
// The system's message boxes. Every text also goes to stderr as one line
// "message: <text>". With ORDERLINK_NONINTERACTIVE=1 no box is shown: the message
// counts as acknowledged at once. On the window thread a box is modal and the call
// returns after the user's OK; from any other thread the box is queued to the window
// thread and the call returns at once.
// A notice is never a box: it goes to the status line and, where the desktop shows
// them, a tray balloon; from any thread it is queued and never waits.

#include <QObject>
#include <QPointer>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QWidget>
#include <functional>
#include <string>

#include "common/MessageSink.h"

namespace orderlink {

class MessageBoxQt final : public QObject, public MessageSink {
  Q_OBJECT

 public:
  // Create on the window thread.
  explicit MessageBoxQt(QObject* parent = nullptr);

  void ShowMessage(const std::string& utf8Text) override;
  void ShowNotice(const std::string& utf8Text) override;
  void ShowStartFailure(const std::string& utf8Text) override;
  // Boxes are centred on this window when it is visible.
  void SetWindow(QWidget* window) { window_ = window; }
  // Where notices appear (either may be null). Window thread.
  void SetNoticeTargets(QStatusBar* statusLine, QSystemTrayIcon* tray) {
    statusLine_ = statusLine;
    tray_ = tray;
  }
  [[nodiscard]] bool Interactive() const { return interactive_; }

 private:
  void ShowBoxOf(const std::string& utf8Text);  // unless non-interactive
  void ShowBox(const QString& text);
  void ShowNoticeHere(const QString& text);
  // Runs `show` on the window thread: at once there, queued from any other thread.
  void OnWindowThread(std::function<void()> show);

  bool interactive_;
  QPointer<QWidget> window_;
  QPointer<QStatusBar> statusLine_;
  QPointer<QSystemTrayIcon> tray_;
};

}  // namespace orderlink
