#include <gtest/gtest.h>

#include <QApplication>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <thread>

#include "app/MainWindow.h"
#include "app/TrayIconQt.h"
#include "app/TrayPolicy.h"
#include "download/DownloadPage.h"
#include "support/RecordingMessages.h"
#include "ui_support/MessageBoxQt.h"

namespace orderlink {
namespace {

class MainWindowTest : public ::testing::Test {
 protected:
  MainWindowTest() : window(MainPages{}, messages, line) {
    window.onShutdown = [this] { ++shutdowns; };
  }

  test::RecordingMessages messages;
  LineActivity line;
  MainWindow window;
  int shutdowns = 0;
};

TEST_F(MainWindowTest, FrameTabsAndTitle) {
  EXPECT_EQ(window.windowTitle(), "无线点菜机管理");
  EXPECT_EQ(window.size(), QSize(626, 361));
  EXPECT_TRUE(window.windowFlags() & Qt::WindowMinimizeButtonHint);

  QStringList captions;
  for (int i = 0; i < window.tabs->count(); ++i) captions << window.tabs->tabText(i);
  EXPECT_EQ(captions, (QStringList{"监测", "测试", "下载", "基站"}));
  EXPECT_EQ(window.tabs->currentWidget(), window.downloadTab);
  for (int i = 0; i < 4; ++i) EXPECT_FALSE(window.tabs->tabIcon(i).isNull());
  EXPECT_FALSE(window.isVisible()) << "nothing is shown at start";
}

TEST(MainWindowPagesTest, PagesHandedInFillTheirTabs) {
  test::RecordingMessages messages;
  auto* test = new QWidget;
  auto* download = new QWidget;
  LineActivity line;
  MainWindow window(MainPages{nullptr, test, download, nullptr}, messages, line);
  EXPECT_TRUE(window.testTab->isAncestorOf(test));
  EXPECT_TRUE(window.downloadTab->isAncestorOf(download));
}

// Opens at its client size; enlarged or maximised, the room goes to the pages, and
// the title and close button stay at the right edge.
TEST(MainWindowLayoutTest, EnlargedWindowGrowsItsPages) {
  test::RecordingMessages messages;
  LineActivity line;
  auto* test = new QWidget;
  MainWindow window(MainPages{nullptr, test, nullptr, nullptr}, messages, line);
  window.tabs->setCurrentWidget(window.testTab);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  EXPECT_EQ(window.size(), QSize(626, 361));
  EXPECT_LT(window.minimumSizeHint().width(), 626);
  EXPECT_TRUE(window.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_NE(window.minimumSize(), window.maximumSize());
  const QSize before = test->size();

  window.resize(1000, 700);
  QApplication::processEvents();
  EXPECT_EQ(window.size(), QSize(1000, 700));
  EXPECT_GE(test->width(), before.width() + 370);
  EXPECT_GE(test->height(), before.height() + 330);
  const QPoint closeAt = window.closeButton->mapTo(&window, QPoint(0, 0));
  EXPECT_GT(closeAt.x() + window.closeButton->width(), 980) << "close button at the right edge";
  EXPECT_EQ(window.statusBar->geometry().bottom(), 699);
}

// A box of a short text is still wide enough for its whole title.
TEST(MessageBoxTest, BoxIsWideEnoughForItsTitle) {
  const char* saved = std::getenv("ORDERLINK_NONINTERACTIVE");
  const std::string restore = saved != nullptr ? saved : "";
  unsetenv("ORDERLINK_NONINTERACTIVE");
  MessageBoxQt boxes;
  setenv("ORDERLINK_NONINTERACTIVE", restore.c_str(), 1);
  ASSERT_TRUE(boxes.Interactive());
  QSize seen;
  QString title;
  QTimer::singleShot(0, [&] {
    QWidget* box = QApplication::activeModalWidget();
    if (box == nullptr) return;
    seen = box->size();
    title = box->windowTitle();
    box->close();
  });
  boxes.ShowMessage("好");
  EXPECT_EQ(title, "无线点菜机管理");
  const QFontMetrics metrics(QApplication::font("QMdiSubWindowTitleBar"));
  EXPECT_GE(seen.width(), metrics.horizontalAdvance(title) * 3 / 2 + 150);
}

// The download page with 60 handsets fits the window at its first size: the progress
// cell inside the window, every instruction line readable without scrolling.
TEST(MainWindowLayoutTest, DownloadPageWithSixtyHandsetsFitsTheFirstSize) {
  test::RecordingMessages messages;
  LineActivity line;
  auto* download = new DownloadPage([] {}, line);
  for (int i = 1; i <= 60; ++i) download->AddHandset(QString::asprintf("%03d", i).toStdString());
  download->HandsetsComplete();
  MainWindow window(MainPages{nullptr, nullptr, download, nullptr}, messages, line);
  window.tabs->setCurrentWidget(window.downloadTab);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  EXPECT_EQ(window.size(), QSize(626, 361));
  const QRect cell(download->progressCell->mapTo(&window, QPoint(0, 0)),
                   download->progressCell->size());
  EXPECT_TRUE(window.rect().contains(cell));
  const QLabel* text = download->instructions;
  EXPECT_GE(text->height(), text->heightForWidth(text->width()));
  EXPECT_TRUE(window.rect().contains(QRect(text->mapTo(&window, QPoint(0, 0)), text->size())));
}

TEST_F(MainWindowTest, CloseButtonAndCloseBoxBothRefuseDuringADownload) {
  constexpr char kRefused[] = "正在下载数据，请先停止下载！";
  line.downloadRunning = true;
  QTest::mouseClick(window.closeButton, Qt::LeftButton);
  window.show();
  window.close();  // the title bar's close box
  EXPECT_EQ(messages.Messages(), (std::vector<std::string>{kRefused, kRefused}));
  EXPECT_EQ(shutdowns, 0);
  EXPECT_TRUE(window.isVisible());

  line.downloadRunning = false;
  QTest::mouseClick(window.closeButton, Qt::LeftButton);
  window.close();
  EXPECT_EQ(shutdowns, 2);
  EXPECT_EQ(messages.Messages().size(), 2u);
}

TEST_F(MainWindowTest, MinimisingHidesOnlyWhileATrayCanBringItBack) {
  window.SetMinimiseHides(false);
  window.show();
  window.showMinimized();
  QApplication::processEvents();
  EXPECT_TRUE(window.isVisible());

  window.SetMinimiseHides(true);
  window.showNormal();
  window.showMinimized();
  QApplication::processEvents();
  EXPECT_FALSE(window.isVisible());

  window.Restore();
  EXPECT_TRUE(window.isVisible());
  EXPECT_FALSE(window.isMinimized());
}

TEST(TrayPolicyTest, WindowStaysReachable) {
  using Action = TrayPolicy::Action;
  TrayPolicy withTray;
  EXPECT_EQ(withTray.Start(true), Action::AddIcon);
  EXPECT_TRUE(withTray.MinimiseHides());
  EXPECT_EQ(withTray.TrayChecked(true, false), Action::None);
  // The tray went away while the window sat in it: bring the window up.
  EXPECT_EQ(withTray.TrayChecked(false, false), Action::ShowWindow);
  EXPECT_FALSE(withTray.MinimiseHides());
  EXPECT_EQ(withTray.TrayChecked(false, true), Action::None);
  // The tray restarted: the icon goes back in.
  EXPECT_EQ(withTray.TrayChecked(true, true), Action::AddIcon);
  EXPECT_TRUE(withTray.MinimiseHides());

  TrayPolicy noTray;
  EXPECT_EQ(noTray.Start(false), Action::ShowWindow);
  EXPECT_FALSE(noTray.MinimiseHides());
}

TEST_F(MainWindowTest, WithoutATrayTheWindowIsShownAtStart) {
  ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable()) << "the offscreen platform has no tray";
  TrayIconQt tray(window);
  int loginTimerStarts = 0;
  tray.onDoubleClick = [&] { ++loginTimerStarts; };
  EXPECT_EQ(tray.trayIcon->toolTip(), "无线点菜机管理软件");
  tray.Start();
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(loginTimerStarts, 1);

  window.showMinimized();
  QApplication::processEvents();
  EXPECT_TRUE(window.isVisible()) << "no tray to come back from";
}

TEST_F(MainWindowTest, ToolTipCanBeSetFromAWorker) {
  TrayIconQt tray(window);
  std::thread worker([&] { tray.SetToolTip("下载 3/10"); });
  worker.join();
  QApplication::processEvents();
  EXPECT_EQ(tray.trayIcon->toolTip(), "下载 3/10");
}

}  // namespace
}  // namespace orderlink
