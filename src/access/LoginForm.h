#pragma once
// TForm2, the login form: borderless, centred, keeps the main window unusable until
// somebody has logged in. Its Timer1 (enabled by a double click on the tray icon)
// brings it up every 500 ms while the main window is visible and nobody is logged in.

#include <QDialog>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "access/LoginSession.h"
#include "common/Messages.h"

namespace orderlink {

class TForm2 final : public QDialog {
  Q_OBJECT

 public:
  // `quit` performs the application's shutdown ("退    出").
  TForm2(LoginSession& session, MessageSink& messages, QWidget* mainWindow,
         std::function<void()> quit, QWidget* parent = nullptr);

  void SpeedButton1Click();  // "登   录"
  void SpeedButton2Click();  // "退    出"
  void Timer1Timer();
  // The ordering software's verdict (NotifyLogin).
  void LoginResult();

  QLineEdit* Edit1;  // user name
  QLineEdit* Edit2;  // password
  QPushButton* Button1;
  QPushButton* Button2;
  QTimer* Timer1;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  LoginSession& session_;
  MessageSink& messages_;
  QPointer<QWidget> mainWindow_;
  std::function<void()> quit_;
};

}  // namespace orderlink
