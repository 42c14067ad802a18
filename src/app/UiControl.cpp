#include "app/UiControl.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QTabWidget>
#include <QTreeWidget>
#include <QWidget>
#include <cerrno>
#include <cstring>

#include "common/Log.h"

namespace orderlink {

namespace {

constexpr std::size_t kMaxActionBytes = 1024;

// The control a path of object names leads to: the first name anywhere among the
// windows, each further one inside the previous.
QObject* Find(const QString& path) {
  const QStringList names = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
  if (names.isEmpty()) return nullptr;
  QObject* found = nullptr;
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (window->objectName() == names.front()) found = window;
    if (found == nullptr) found = window->findChild<QObject*>(names.front());
    if (found != nullptr) break;
  }
  for (qsizetype i = 1; found != nullptr && i < names.size(); ++i)
    found = found->findChild<QObject*>(names[i]);
  return found;
}

QTreeWidgetItem* ItemWithText(QTreeWidget& tree, const QString& text) {
  const auto items = tree.findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
  return items.isEmpty() ? nullptr : items.front();
}

}  // namespace

std::unique_ptr<UiControl> UiControl::FromEnvironment(ActionDone done) {
  const QByteArray path = qgetenv("ORDERLINK_UI_CONTROL");
  if (path.isEmpty()) return nullptr;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (static_cast<std::size_t>(path.size()) >= sizeof address.sun_path) {
    LogError("ui control: the socket path " + path.toStdString() + " is too long");
    return nullptr;
  }
  std::memcpy(address.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  // A socket left by an earlier run is replaced; any other file is not touched.
  struct stat old {};
  if (::lstat(path.constData(), &old) == 0 && S_ISSOCK(old.st_mode)) ::unlink(path.constData());
  const mode_t mask = ::umask(0077);
  const bool bound =
      fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::umask(mask);
  if (!bound) {
    LogError("ui control: cannot listen on " + path.toStdString() + " (" + std::strerror(errno) +
             ")");
    if (fd >= 0) ::close(fd);
    return nullptr;
  }
  LogInfo("ui control: taking scripted user actions on " + path.toStdString());
  return std::unique_ptr<UiControl>(new UiControl(fd, path.toStdString(), std::move(done)));
}

UiControl::UiControl(int fd, std::string path, ActionDone done)
    : fd_(fd), path_(std::move(path)), done_(std::move(done)), watch_(fd, QSocketNotifier::Read) {
  connect(&watch_, &QSocketNotifier::activated, this, [this] { ReadActions(); });
}

UiControl::~UiControl() {
  watch_.setEnabled(false);
  ::close(fd_);
  ::unlink(path_.c_str());
}

void UiControl::ReadActions() {
  char data[kMaxActionBytes];
  for (;;) {
    const ssize_t n = ::recv(fd_, data, sizeof data, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return;
    std::string action(data, static_cast<std::size_t>(n));
    while (!action.empty() && (action.back() == '\n' || action.back() == '\r')) action.pop_back();
    if (const std::string why = Perform(action); !why.empty())
      LogWarning("ui control: \"" + action + "\" not done: " + why);
  }
}

std::string UiControl::Perform(const std::string& action) {
  const QString text = QString::fromUtf8(action);
  const QString verb = text.section(QLatin1Char(' '), 0, 0);
  const QString path = text.section(QLatin1Char(' '), 1, 1);
  const QString value = text.section(QLatin1Char(' '), 2);
  if (action.find('\n') != std::string::npos) return "one action a line";
  QObject* target = Find(path);
  if (target == nullptr) return "no control " + path.toStdString();
  // What the action does, once it is known to fit; recorded first.
  std::function<void()> effect;
  if (verb == QLatin1String("show")) {
    auto* page = qobject_cast<QWidget*>(target);
    auto* tabs = page ? qobject_cast<QTabWidget*>(
                            page->parentWidget() ? page->parentWidget()->parentWidget() : nullptr)
                      : nullptr;
    if (tabs == nullptr || tabs->indexOf(page) < 0) return path.toStdString() + " is no tab";
    effect = [tabs, page] {
      tabs->window()->show();
      tabs->setCurrentWidget(page);
    };
  } else if (verb == QLatin1String("click")) {
    auto* button = qobject_cast<QAbstractButton*>(target);
    if (button == nullptr) return path.toStdString() + " is no button";
    if (!button->isEnabled()) return path.toStdString() + " is disabled";
    effect = [button] { button->click(); };
  } else if (verb == QLatin1String("text")) {
    if (auto* edit = qobject_cast<QLineEdit*>(target)) {
      effect = [edit, value] { edit->setText(value); };
    } else if (auto* combo = qobject_cast<QComboBox*>(target)) {
      if (combo->findText(value) < 0 && !combo->isEditable())
        return path.toStdString() + " offers no " + value.toStdString();
      effect = [combo, value] { combo->setCurrentText(value); };
    } else {
      return path.toStdString() + " takes no text";
    }
  } else if (verb == QLatin1String("select")) {
    auto* tree = qobject_cast<QTreeWidget*>(target);
    if (tree == nullptr) return path.toStdString() + " is no tree";
    QTreeWidgetItem* item = ItemWithText(*tree, value);
    if (item == nullptr) return path.toStdString() + " holds no item " + value.toStdString();
    effect = [tree, item] { tree->setCurrentItem(item); };
  } else {
    return "no such action (show, click, text, select)";
  }
  LogInfo("ui control: " + action);
  if (done_) done_(action);
  effect();
  return {};
}

}  // namespace orderlink
