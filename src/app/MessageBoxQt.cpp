#include "app/MessageBoxQt.h"

#include <QMessageBox>
#include <QThread>
#include <cstdlib>
#include <cstring>

#include "common/Log.h"

namespace orderlink {

MessageBoxQt::MessageBoxQt(QObject* parent) : QObject(parent) {
  const char* value = std::getenv("ORDERLINK_NONINTERACTIVE");
  interactive_ = value == nullptr || std::strcmp(value, "1") != 0;
}

void MessageBoxQt::ShowMessage(const std::string& utf8Text) {
  LogInfo("message: " + utf8Text);
  if (!interactive_) return;
  const QString text = QString::fromStdString(utf8Text);
  if (QThread::currentThread() == thread()) {
    ShowBox(text);
  } else {
    QMetaObject::invokeMethod(this, [this, text] { ShowBox(text); }, Qt::QueuedConnection);
  }
}

void MessageBoxQt::ShowBox(const QString& text) {
  QWidget* parent = window_ && window_->isVisible() ? window_.data() : nullptr;
  QMessageBox::information(parent, QStringLiteral("无线点菜机管理"), text);
}

}  // namespace orderlink
