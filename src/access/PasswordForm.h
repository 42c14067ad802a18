#pragma once
// The form for the administrator password that handsets ask for in their settings
// screen, stored in 管理员密码.txt for the menu download. Accepted when the file was written.

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>

#include "common/Messages.h"
#include "common/TxtDir.h"

namespace orderlink {

class PasswordForm final : public QDialog {
  Q_OBJECT

 public:
  PasswordForm(TxtDir txt, MessageSink& messages, QWidget* parent = nullptr);

  void Save();  // "修改并保存"

  QLineEdit* passwordEdit;  // at most 8 bytes of GBK text
  QPushButton* saveButton;

 private:
  TxtDir txt_;
  MessageSink& messages_;
};

}  // namespace orderlink
