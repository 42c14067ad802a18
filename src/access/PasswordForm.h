#pragma once
// The form for the administrator password that handsets ask for in their settings
// screen, stored in 管理员密码.txt for the menu download. Accepted when the file was written.
// The form is kept for the whole run; each time it opens its field is empty, so the
// password stored before is not shown to whoever sits at the PC.

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>

#include "common/MessageSink.h"
#include "common/TxtDir.h"

namespace orderlink {

class PasswordForm final : public QDialog {
  Q_OBJECT

 public:
  PasswordForm(TxtDir txt, MessageSink& messages, QWidget* parent = nullptr);

  void Save();  // "修改并保存"

  QLineEdit* passwordEdit;  // at most 8 bytes of GBK text
  QPushButton* saveButton;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  TxtDir txt_;
  MessageSink& messages_;
};

}  // namespace orderlink
