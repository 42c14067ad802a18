#include "access/LoginForm.h"

#include <QLabel>
#include <QLinearGradient>
#include <QPainter>

namespace orderlink {

LoginForm::LoginForm(LoginSession& session, MessageSink& messages, QWidget* mainWindow,
                     std::function<void()> quit, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint),
      session_(session),
      messages_(messages),
      mainWindow_(mainWindow),
      quit_(std::move(quit)) {
  setObjectName("loginForm");
  setWindowTitle("登录");
  setFixedSize(311, 167);
  setWindowModality(Qt::ApplicationModal);

  auto* userLabel = new QLabel("用户名：", this);
  userLabel->setGeometry(48, 36, 72, 22);
  userEdit = new QLineEdit(this);
  userEdit->setObjectName("userEdit");
  userEdit->setGeometry(124, 34, 136, 24);
  auto* passwordLabel = new QLabel("密    码：", this);
  passwordLabel->setGeometry(48, 74, 72, 22);
  passwordEdit = new QLineEdit(this);
  passwordEdit->setObjectName("passwordEdit");
  passwordEdit->setEchoMode(QLineEdit::Password);
  passwordEdit->setGeometry(124, 72, 136, 24);

  loginButton = new QPushButton("登   录", this);
  loginButton->setObjectName("loginButton");
  loginButton->setGeometry(66, 118, 80, 28);
  quitButton = new QPushButton("退    出", this);
  quitButton->setObjectName("quitButton");
  quitButton->setGeometry(166, 118, 80, 28);
  // Enter is handled by the fields alone; a default button would log in twice.
  for (QPushButton* button : {loginButton, quitButton}) {
    button->setAutoDefault(false);
    button->setDefault(false);
  }

  promptTimer = new QTimer(this);
  promptTimer->setObjectName("promptTimer");
  promptTimer->setInterval(500);

  connect(loginButton, &QPushButton::clicked, this, &LoginForm::LogIn);
  connect(quitButton, &QPushButton::clicked, this, &LoginForm::Quit);
  connect(userEdit, &QLineEdit::returnPressed, this, [this] { passwordEdit->setFocus(); });
  connect(passwordEdit, &QLineEdit::returnPressed, this, &LoginForm::LogIn);
  connect(promptTimer, &QTimer::timeout, this, &LoginForm::PromptUntilLoggedIn);
}

void LoginForm::LogIn() {
  const auto submitted =
      session_.Submit(userEdit->text().toStdString(), passwordEdit->text().toStdString());
  switch (submitted.result) {
    case LoginSession::SubmitResult::InputRefused:
    case LoginSession::SubmitResult::NotWritten:
      messages_.ShowMessage(submitted.message);
      break;
    case LoginSession::SubmitResult::LoggedIn:
      close();
      break;
    case LoginSession::SubmitResult::AwaitingVerdict:
      break;
  }
}

void LoginForm::Quit() {
  if (quit_) quit_();
}

void LoginForm::LoginResult() {
  const auto verdict = session_.TakeVerdict();
  switch (verdict.result) {
    case LoginSession::VerdictResult::None:
      break;
    case LoginSession::VerdictResult::Unreadable:
      messages_.ShowMessage(verdict.message);
      break;
    case LoginSession::VerdictResult::Accepted:
      close();
      messages_.ShowMessage("登陆成功！");
      break;
    case LoginSession::VerdictResult::Refused:
      messages_.ShowMessage("用户名或密码错误，请重新登陆！");
      userEdit->clear();
      passwordEdit->clear();
      userEdit->setFocus();
      break;
  }
}

void LoginForm::PromptUntilLoggedIn() {
  const bool mainVisible = mainWindow_ && mainWindow_->isVisible();
  switch (session_.OnPromptTick(isVisible(), mainVisible)) {
    case LoginSession::PromptAction::StopAndClose:
      promptTimer->stop();
      close();
      break;
    case LoginSession::PromptAction::ShowForm:
      show();
      raise();
      activateWindow();
      userEdit->setFocus();
      break;
    case LoginSession::PromptAction::Nothing:
      break;
  }
}

void LoginForm::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QLinearGradient background(0, 0, 0, height());
  background.setColorAt(0, QColor(0xdf, 0xea, 0xf7));
  background.setColorAt(1, QColor(0x9c, 0xb8, 0xdc));
  painter.fillRect(rect(), background);
  painter.setPen(QColor(0x4a, 0x6a, 0x96));
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

}  // namespace orderlink
