#include "ui_support/MessageBoxQt.h"

#include <QApplication>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>
#include <QThread>
#include <cstdlib>
#include <cstring>

#include "common/Log.h"

namespace orderlink {

namespace {
constexpr char kTitle[] = "无线点菜机管理";
constexpr int kBalloonMs = 10000;
// Room a title bar takes besides the title: window icon and three buttons.
constexpr int kTitleBarButtons = 150;

// The stderr form is one line: a text of several lines is joined with blanks.
void LogMessage(const std::string& utf8Text, LogLevel level = LogLevel::Info) {
  std::string line = "message: " + utf8Text;
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  Log(level, line);
}
}  // namespace

MessageBoxQt::MessageBoxQt(QObject* parent) : QObject(parent) {
  const char* value = std::getenv("ORDERLINK_NONINTERACTIVE");
  interactive_ = value == nullptr || std::strcmp(value, "1") != 0;
}

void MessageBoxQt::ShowMessage(const std::string& utf8Text) {
  LogMessage(utf8Text);
  ShowBoxOf(utf8Text);
}

void MessageBoxQt::ShowStartFailure(const std::string& utf8Text) {
  LogMessage(utf8Text, LogLevel::Error);
  ShowBoxOf(utf8Text);
}

void MessageBoxQt::ShowBoxOf(const std::string& utf8Text) {
  if (!interactive_) return;
  const QString text = QString::fromStdString(utf8Text);
  OnWindowThread([this, text] { ShowBox(text); });
}

void MessageBoxQt::ShowNotice(const std::string& utf8Text) {
  LogMessage(utf8Text);
  const QString text = QString::fromStdString(utf8Text);
  OnWindowThread([this, text] { ShowNoticeHere(text); });
}

void MessageBoxQt::OnWindowThread(std::function<void()> show) {
  if (QThread::currentThread() == thread()) {
    show();
  } else {
    QMetaObject::invokeMethod(this, std::move(show), Qt::QueuedConnection);
  }
}

void MessageBoxQt::ShowBox(const QString& text) {
  QWidget* parent = window_ && window_->isVisible() ? window_.data() : nullptr;
  QMessageBox box(QMessageBox::Information, QString::fromUtf8(kTitle), text, QMessageBox::Ok,
                  parent);
  // A box is only as wide as its text, and window managers cut the title of a narrow
  // window ("无…"): a strut in the box's grid keeps it wide enough for the whole title
  // beside the title bar's icon and buttons.
  if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
    const QFontMetrics title(QApplication::font("QMdiSubWindowTitleBar"));
    const int width = title.horizontalAdvance(box.windowTitle()) * 3 / 2 + kTitleBarButtons;
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                  grid->rowCount(), 0, 1, grid->columnCount());
  }
  box.exec();
}

void MessageBoxQt::ShowNoticeHere(const QString& text) {
  // Kept until the next notice: it tells the line's present state.
  if (statusLine_) statusLine_->showMessage(text);
  if (tray_ && tray_->isVisible() && QSystemTrayIcon::supportsMessages()) {
    tray_->showMessage(QString::fromUtf8(kTitle), text, QSystemTrayIcon::Warning, kBalloonMs);
  }
}

}  // namespace orderlink
