#pragma once
// TForm1: the administrator password that handsets ask for in their settings screen,
// stored in 管理员密码.txt for the menu download. Accepted when the file was written.

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>

#include "common/Messages.h"
#include "common/TxtDir.h"

namespace orderlink {

class TForm1 final : public QDialog {
  Q_OBJECT

 public:
  TForm1(TxtDir txt, MessageSink& messages, QWidget* parent = nullptr);

  void BitBtn1Click();  // "修改并保存"

  QLineEdit* Edit1;  // at most 8 bytes of GBK text
  QPushButton* BitBtn1;

 private:
  TxtDir txt_;
  MessageSink& messages_;
};

}  // namespace orderlink
