#pragma once
// The login form: borderless, centred, keeps the main window unusable until somebody
// has logged in. Its promptTimer (started by a double click on the tray icon) brings
// it up every 500 ms while the main window is visible and nobody is logged in.

#include <QDialog>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "access/LoginSession.h"
#include "common/MessageSink.h"

namespace orderlink {

class LoginForm final : public QDialog {
  Q_OBJECT

 public:
  // `quit` performs the application's shutdown ("退    出").
  LoginForm(LoginSession& session, MessageSink& messages, QWidget* mainWindow,
            std::function<void()> quit, QWidget* parent = nullptr);

  void LogIn();  // "登   录"
  void Quit();   // "退    出"
  // One tick of promptTimer: brings the form up while the main window shows and
  // nobody is logged in; stops the timer once somebody is.
  void PromptUntilLoggedIn();
  // The ordering software's verdict (NotifyLogin).
  void LoginResult();

  QLineEdit* userEdit;
  QLineEdit* passwordEdit;
  QPushButton* loginButton;
  QPushButton* quitButton;
  QTimer* promptTimer;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  LoginSession& session_;
  MessageSink& messages_;
  QPointer<QWidget> mainWindow_;
  std::function<void()> quit_;
};

}  // namespace orderlink
