#include "access/LoginForm.h"

#include <QLabel>
#include <QLinearGradient>
#include <QPainter>

namespace orderlink {

TForm2::TForm2(LoginSession& session, MessageSink& messages, QWidget* mainWindow,
               std::function<void()> quit, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint),
      session_(session),
      messages_(messages),
      mainWindow_(mainWindow),
      quit_(std::move(quit)) {
  setObjectName("Form2");
  setWindowTitle("登录");
  setFixedSize(311, 167);
  setWindowModality(Qt::ApplicationModal);

  auto* userLabel = new QLabel("用户名：", this);
  userLabel->setGeometry(48, 36, 72, 22);
  Edit1 = new QLineEdit(this);
  Edit1->setObjectName("Edit1");
  Edit1->setGeometry(124, 34, 136, 24);
  auto* passwordLabel = new QLabel("密    码：", this);
  passwordLabel->setGeometry(48, 74, 72, 22);
  Edit2 = new QLineEdit(this);
  Edit2->setObjectName("Edit2");
  Edit2->setEchoMode(QLineEdit::Password);
  Edit2->setGeometry(124, 72, 136, 24);

  Button1 = new QPushButton("登   录", this);
  Button1->setObjectName("Button1");
  Button1->setGeometry(66, 118, 80, 28);
  Button2 = new QPushButton("退    出", this);
  Button2->setObjectName("Button2");
  Button2->setGeometry(166, 118, 80, 28);
  // Enter is handled by the fields alone; a default button would log in twice.
  for (QPushButton* button : {Button1, Button2}) {
    button->setAutoDefault(false);
    button->setDefault(false);
  }

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(500);

  connect(Button1, &QPushButton::clicked, this, &TForm2::SpeedButton1Click);
  connect(Button2, &QPushButton::clicked, this, &TForm2::SpeedButton2Click);
  connect(Edit1, &QLineEdit::returnPressed, this, [this] { Edit2->setFocus(); });
  connect(Edit2, &QLineEdit::returnPressed, this, &TForm2::SpeedButton1Click);
  connect(Timer1, &QTimer::timeout, this, &TForm2::Timer1Timer);
}

void TForm2::SpeedButton1Click() {
  const auto submitted = session_.Submit(Edit1->text().toStdString(), Edit2->text().toStdString());
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

void TForm2::SpeedButton2Click() {
  if (quit_) quit_();
}

void TForm2::LoginResult() {
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
      Edit1->clear();
      Edit2->clear();
      Edit1->setFocus();
      break;
  }
}

void TForm2::Timer1Timer() {
  const bool mainVisible = mainWindow_ && mainWindow_->isVisible();
  switch (session_.OnTimer(isVisible(), mainVisible)) {
    case LoginSession::TimerResult::StopAndClose:
      Timer1->stop();
      close();
      break;
    case LoginSession::TimerResult::ShowForm:
      show();
      raise();
      activateWindow();
      Edit1->setFocus();
      break;
    case LoginSession::TimerResult::Nothing:
      break;
  }
}

void TForm2::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QLinearGradient background(0, 0, 0, height());
  background.setColorAt(0, QColor(0xdf, 0xea, 0xf7));
  background.setColorAt(1, QColor(0x9c, 0xb8, 0xdc));
  painter.fillRect(rect(), background);
  painter.setPen(QColor(0x4a, 0x6a, 0x96));
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

}  // namespace orderlink
