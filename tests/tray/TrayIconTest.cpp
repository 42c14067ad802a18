// The tray icon opens the window on a single click as on a double click, once per
// gesture; and on a desktop whose tray is a StatusNotifierItem host (played here on
// a private D-Bus session, with the program on an X server of its own) a click on
// the item brings up the main window and the login form.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <csignal>
#include <functional>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "app/MainWindow.h"
#include "app/TrayIconQt.h"
#include "app/TrayPolicy.h"
#include "support/Processes.h"
#include "support/RecordingMessages.h"

namespace orderlink {
namespace {

// ---- one click, one opening

TEST(TrayPolicyClicks, ASingleClickOpensAndTheDoubleClickOfTheSameGestureDoesNot) {
  constexpr std::int64_t interval = 400;
  TrayPolicy policy;
  policy.Start(true);
  // A StatusNotifierItem host reports single clicks only.
  EXPECT_TRUE(policy.Clicked(1000, interval));
  // An X tray reports a double click as a click followed by a double click.
  EXPECT_FALSE(policy.Clicked(1250, interval));
  EXPECT_FALSE(policy.Clicked(1399, interval)) << "still within the first click's interval";
  // A later click is a gesture of its own.
  EXPECT_TRUE(policy.Clicked(1400, interval));
  EXPECT_TRUE(policy.Clicked(5000, interval));

  TrayPolicy fresh;
  EXPECT_TRUE(fresh.Clicked(0, interval)) << "the very first click, at time zero";
}

TEST(TrayIconClicks, SingleOrDoubleClickRestoresTheWindowOncePerGesture) {
  test::RecordingMessages messages;
  LineActivity line;
  MainWindow window(MainPages{}, messages, line);
  TrayIconQt tray(window);
  int loginTimerStarts = 0;
  tray.onDoubleClick = [&] { ++loginTimerStarts; };
  ASSERT_FALSE(window.isVisible());

  emit tray.trayIcon->activated(QSystemTrayIcon::Trigger);
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(loginTimerStarts, 1);
  emit tray.trayIcon->activated(QSystemTrayIcon::DoubleClick);
  EXPECT_EQ(loginTimerStarts, 1) << "the double click belongs to the click before it";

  window.hide();
  emit tray.trayIcon->activated(QSystemTrayIcon::Context);
  emit tray.trayIcon->activated(QSystemTrayIcon::MiddleClick);
  EXPECT_FALSE(window.isVisible()) << "only the left button opens the window";
  EXPECT_EQ(loginTimerStarts, 1);
}

// ---- a StatusNotifierItem host on a private session bus

// The host's side of the protocol: it says a host is there and records the items
// that register.
class StatusNotifierWatcher final : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
  Q_PROPERTY(bool IsStatusNotifierHostRegistered READ IsStatusNotifierHostRegistered)
  Q_PROPERTY(int ProtocolVersion READ ProtocolVersion)
  Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ RegisteredStatusNotifierItems)

 public:
  [[nodiscard]] bool IsStatusNotifierHostRegistered() const { return true; }
  [[nodiscard]] int ProtocolVersion() const { return 0; }
  [[nodiscard]] QStringList RegisteredStatusNotifierItems() const { return items; }

  QStringList items;  // "service" or "service/path" as registered

 public Q_SLOTS:
  void RegisterStatusNotifierItem(const QString& serviceOrPath) { items << serviceOrPath; }
  void RegisterStatusNotifierHost(const QString&) {}

 Q_SIGNALS:
  void StatusNotifierItemRegistered(const QString& item);
  void StatusNotifierHostRegistered();
};

// Keeps this process's event loop (the watcher's D-Bus calls) running until `done`.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

std::vector<std::string> OutputLines(const std::vector<std::string>& argv,
                                     const std::vector<std::string>& env) {
  test::ChildProcess child(argv, env);
  std::vector<std::string> lines;
  while (auto line = child.ReadLine(5000)) lines.push_back(*line);
  child.Wait(5000);
  return lines;
}

// Titles of the top-level windows on `display` that are mapped and viewable.
std::vector<std::string> ViewableWindows(const std::string& xwininfo, const std::string& display) {
  const std::vector<std::string> env = {"LANG=C.UTF-8", "LC_ALL=C.UTF-8"};
  const std::regex child(R"(^\s+(0x[0-9a-f]+) \"(.*)\":)");
  std::vector<std::string> titles;
  for (const auto& line : OutputLines({xwininfo, "-display", display, "-root", "-children"}, env)) {
    std::smatch m;
    if (!std::regex_search(line, m, child)) continue;
    for (const auto& detail : OutputLines({xwininfo, "-display", display, "-id", m[1]}, env)) {
      if (detail.find("Map State: IsViewable") != std::string::npos) titles.push_back(m[2]);
    }
  }
  return titles;
}

bool Has(const std::vector<std::string>& titles, const std::string& title) {
  return std::find(titles.begin(), titles.end(), title) != titles.end();
}

std::string Describe(const std::vector<std::string>& titles) {
  std::string out;
  for (const auto& t : titles) out += "[" + t + "] ";
  return out;
}

// Title and text of the item's tool tip (the SNI ToolTip property, (sa(iiay)ss)).
std::optional<QString> ToolTipText(QDBusConnection& bus, const QString& service,
                                   const QString& path) {
  QDBusMessage get =
      QDBusMessage::createMethodCall(service, path, "org.freedesktop.DBus.Properties", "Get");
  get << QString("org.kde.StatusNotifierItem") << QString("ToolTip");
  const QDBusMessage reply = bus.call(get, QDBus::Block, 5000);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
    return std::nullopt;
  const QDBusArgument arg =
      reply.arguments().at(0).value<QDBusVariant>().variant().value<QDBusArgument>();
  QString iconName, title, text;
  arg.beginStructure();
  arg >> iconName;
  arg.beginArray();
  while (!arg.atEnd()) {
    int width = 0, height = 0;
    QByteArray pixels;
    arg.beginStructure();
    arg >> width >> height >> pixels;
    arg.endStructure();
  }
  arg.endArray();
  arg >> title >> text;
  arg.endStructure();
  return title + text;
}

TEST(TrayOnAStatusNotifierHost, ClickingTheItemOpensTheWindowAndTheLoginForm) {
  const std::string dbusDaemon = test::FindProgram("dbus-daemon");
  const std::string xvfb = test::FindProgram("Xvfb");
  const std::string xwininfo = test::FindProgram("xwininfo");
  if (dbusDaemon.empty() || xvfb.empty() || xwininfo.empty()) {
    GTEST_SKIP() << "needs dbus-daemon, Xvfb and xwininfo (scripts/bootstrap installs them)";
  }

  test::ChildProcess busDaemon({dbusDaemon, "--session", "--nofork", "--print-address=1"}, {});
  const auto address = busDaemon.ReadLine(10000);
  ASSERT_TRUE(address && !address->empty()) << busDaemon.Stderr();
  test::ChildProcess xserver(
      {xvfb, "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"}, {});
  const auto displayNumber = xserver.ReadLine(20000);
  ASSERT_TRUE(displayNumber && !displayNumber->empty()) << xserver.Stderr();
  const std::string display = ":" + *displayNumber;

  QDBusConnection bus = QDBusConnection::connectToBus(QString::fromStdString(*address), "sni-host");
  ASSERT_TRUE(bus.isConnected()) << bus.lastError().message().toStdString();
  StatusNotifierWatcher watcher;
  ASSERT_TRUE(bus.registerObject("/StatusNotifierWatcher", &watcher,
                                 QDBusConnection::ExportAllSlots |
                                     QDBusConnection::ExportAllProperties |
                                     QDBusConnection::ExportAllSignals));
  ASSERT_TRUE(bus.registerService("org.kde.StatusNotifierWatcher"));

  test::TempAppDir dir;
  dir.WriteGbk("基站.txt", "1 COM1\r\n");
  dir.WriteGbk("点菜机.txt", "001 1\r\n");
  test::PtyPair line;
  test::ChildProcess program(
      {std::string(ORDERLINK_BIN_DIR) + "/orderlink", "DEBUG"},
      {"ORDERLINK_APPDIR=" + dir.Path(), "ORDERLINK_COM1=" + line.SlavePath(),
       "ORDERLINK_NONINTERACTIVE=1", "QT_QPA_PLATFORM=xcb", "DISPLAY=" + display,
       "DBUS_SESSION_BUS_ADDRESS=" + *address});

  ASSERT_TRUE(PumpUntil([&] { return !watcher.items.isEmpty(); }, 20000))
      << "no item registered with the host\n"
      << program.Stderr();
  // The item names its service, or only its path on the caller's connection.
  QString service = watcher.items.first();
  QString path = "/StatusNotifierItem";
  if (service.startsWith('/')) {
    path = service;
    service.clear();
    for (const QString& name : bus.interface()->registeredServiceNames().value()) {
      if (name.startsWith(':') &&
          bus.interface()->servicePid(name).value() == static_cast<uint>(program.Pid())) {
        service = name;
      }
    }
  }
  ASSERT_FALSE(service.isEmpty());

  const auto toolTip = ToolTipText(bus, service, path);
  ASSERT_TRUE(toolTip);
  EXPECT_TRUE(toolTip->contains("无线点菜机管理软件")) << toolTip->toStdString();
  EXPECT_FALSE(Has(ViewableWindows(xwininfo, display), "无线点菜机管理"))
      << "only the icon at start: " << Describe(ViewableWindows(xwininfo, display));

  // A left click on the item, as the host reports it.
  QDBusMessage activate =
      QDBusMessage::createMethodCall(service, path, "org.kde.StatusNotifierItem", "Activate");
  activate << 0 << 0;
  bus.asyncCall(activate);

  std::vector<std::string> titles;
  const bool opened = PumpUntil(
      [&] {
        titles = ViewableWindows(xwininfo, display);
        return Has(titles, "无线点菜机管理") && Has(titles, "登录");
      },
      10000);
  EXPECT_TRUE(opened) << "windows: " << Describe(titles) << "\n" << program.Stderr();

  program.Signal(SIGTERM);
  EXPECT_EQ(program.Wait(15000), 0) << program.Stderr();
  bus.unregisterService("org.kde.StatusNotifierWatcher");
  QDBusConnection::disconnectFromBus("sni-host");
}

}  // namespace
}  // namespace orderlink

#include "TrayIconTest.moc"
