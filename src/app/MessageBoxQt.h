#pragma once
// The system's message boxes. Every text also goes to stderr as one line
// "message: <text>". With ORDERLINK_NONINTERACTIVE=1 no box is shown: the message
// counts as acknowledged at once. On the window thread a box is modal and the call
// returns after the user's OK; from any other thread the box is queued to the window
// thread and the call returns at once.

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <string>

#include "common/Messages.h"

namespace orderlink {

class MessageBoxQt final : public QObject, public MessageSink {
  Q_OBJECT

 public:
  // Create on the window thread.
  explicit MessageBoxQt(QObject* parent = nullptr);

  void ShowMessage(const std::string& utf8Text) override;
  // Boxes are centred on this window when it is visible.
  void SetWindow(QWidget* window) { window_ = window; }
  [[nodiscard]] bool Interactive() const { return interactive_; }

 private:
  void ShowBox(const QString& text);

  bool interactive_;
  QPointer<QWidget> window_;
};

}  // namespace orderlink
