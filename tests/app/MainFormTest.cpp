#include "app/MainForm.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTabBar>
#include <QTest>
#include <thread>

#include "app/TrayIconQt.h"
#include "app/TrayPolicy.h"
#include "support/RecordingMessages.h"

namespace orderlink {
namespace {

class MainFormTest : public ::testing::Test {
 protected:
  MainFormTest() : form(MainPages{}, messages, line) {
    form.onShutdown = [this] { ++shutdowns; };
  }

  test::RecordingMessages messages;
  LineActivity line;
  TMainForm form;
  int shutdowns = 0;
};

TEST_F(MainFormTest, FrameTabsAndTitle) {
  EXPECT_EQ(form.windowTitle(), "无线点菜机管理");
  EXPECT_EQ(form.size(), QSize(626, 361));
  EXPECT_EQ(form.minimumSize(), form.maximumSize()) << "not resizable";
  EXPECT_TRUE(form.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);

  QStringList captions;
  for (int i = 0; i < form.PageControl1->count(); ++i) captions << form.PageControl1->tabText(i);
  EXPECT_EQ(captions, (QStringList{"监测", "测试", "下载", "基站"}));
  EXPECT_EQ(form.PageControl1->currentWidget(), form.TabSheet3);
  for (int i = 0; i < 4; ++i) EXPECT_FALSE(form.PageControl1->tabIcon(i).isNull());
  EXPECT_FALSE(form.isVisible()) << "nothing is shown at start";
}

TEST(MainFormPagesTest, PagesHandedInFillTheirTabs) {
  test::RecordingMessages messages;
  auto* test = new QWidget;
  auto* download = new QWidget;
  LineActivity line;
  TMainForm form(MainPages{nullptr, test, download, nullptr}, messages, line);
  EXPECT_TRUE(form.TabSheet2->isAncestorOf(test));
  EXPECT_TRUE(form.TabSheet3->isAncestorOf(download));
}

TEST_F(MainFormTest, CloseButtonRefusesDuringADownloadTheCloseBoxDoesNot) {
  line.downloadRunning = true;
  QTest::mouseClick(form.StartButton, Qt::LeftButton);
  EXPECT_EQ(messages.Messages(), std::vector<std::string>{"正在下载数据，请先停止下载！"});
  EXPECT_EQ(shutdowns, 0);

  form.show();
  form.close();
  EXPECT_EQ(shutdowns, 1);

  line.downloadRunning = false;
  QTest::mouseClick(form.StartButton, Qt::LeftButton);
  EXPECT_EQ(shutdowns, 2);
  EXPECT_EQ(messages.Messages().size(), 1u);
}

TEST_F(MainFormTest, MinimisingHidesOnlyWhileATrayCanBringItBack) {
  form.SetMinimiseHides(false);
  form.show();
  form.showMinimized();
  QApplication::processEvents();
  EXPECT_TRUE(form.isVisible());

  form.SetMinimiseHides(true);
  form.showNormal();
  form.showMinimized();
  QApplication::processEvents();
  EXPECT_FALSE(form.isVisible());

  form.Restore();
  EXPECT_TRUE(form.isVisible());
  EXPECT_FALSE(form.isMinimized());
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

TEST_F(MainFormTest, WithoutATrayTheWindowIsShownAtStart) {
  ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable()) << "the offscreen platform has no tray";
  TrayIconQt tray(form);
  int loginTimerStarts = 0;
  tray.onDoubleClick = [&] { ++loginTimerStarts; };
  EXPECT_EQ(tray.RzTrayIcon1->toolTip(), "无线点菜机管理软件");
  tray.Start();
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(loginTimerStarts, 1);

  form.showMinimized();
  QApplication::processEvents();
  EXPECT_TRUE(form.isVisible()) << "no tray to come back from";
}

TEST_F(MainFormTest, ToolTipCanBeSetFromAWorker) {
  TrayIconQt tray(form);
  std::thread worker([&] { tray.SetToolTip("下载 3/10"); });
  worker.join();
  QApplication::processEvents();
  EXPECT_EQ(tray.RzTrayIcon1->toolTip(), "下载 3/10");
}

}  // namespace
}  // namespace orderlink
