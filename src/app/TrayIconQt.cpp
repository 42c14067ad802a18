#include "app/TrayIconQt.h"

#include <QApplication>
#include <QThread>

#include "ui_support/Pictures.h"

namespace orderlink {

TrayIconQt::TrayIconQt(MainWindow& window, QObject* parent) : QObject(parent), window_(&window) {
  trayIcon = new QSystemTrayIcon(PictureIcon("tab_test.png"), this);
  trayIcon->setObjectName("trayIcon");
  trayIcon->setToolTip("无线点菜机管理软件");
  connect(trayIcon, &QSystemTrayIcon::activated, this, &TrayIconQt::IconActivated);
  sinceStart_.start();
  trayCheck_.setInterval(2000);
  connect(&trayCheck_, &QTimer::timeout, this, &TrayIconQt::CheckTray);
}

void TrayIconQt::Start() {
  Apply(policy_.Start(QSystemTrayIcon::isSystemTrayAvailable()));
  trayCheck_.start();
}

void TrayIconQt::CheckTray() {
  // A minimised window is still visible: it sits in the taskbar.
  const bool visible = window_ && window_->isVisible();
  Apply(policy_.TrayChecked(QSystemTrayIcon::isSystemTrayAvailable(), visible));
}

void TrayIconQt::Apply(TrayPolicy::Action action) {
  if (window_) window_->SetMinimiseHides(policy_.MinimiseHides());
  switch (action) {
    case TrayPolicy::Action::AddIcon:
      trayIcon->hide();
      trayIcon->show();
      break;
    case TrayPolicy::Action::ShowWindow:
      OpenWindow();
      break;
    case TrayPolicy::Action::None:
      break;
  }
}

void TrayIconQt::IconActivated(QSystemTrayIcon::ActivationReason reason) {
  if (reason != QSystemTrayIcon::Trigger && reason != QSystemTrayIcon::DoubleClick) return;
  if (policy_.Clicked(sinceStart_.elapsed(), QApplication::doubleClickInterval())) {
    OpenWindow();
  }
}

void TrayIconQt::OpenWindow() {
  if (window_) window_->Restore();
  if (onDoubleClick) onDoubleClick();
}

void TrayIconQt::SetToolTip(const std::string& utf8Text) {
  const QString text = QString::fromStdString(utf8Text);
  if (QThread::currentThread() == thread()) {
    trayIcon->setToolTip(text);
  } else {
    QMetaObject::invokeMethod(
        this, [this, text] { trayIcon->setToolTip(text); }, Qt::QueuedConnection);
  }
}

}  // namespace orderlink
