#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <thread>

#include "monitor/MonitorList.h"
#include "monitor/MonitorPage.h"

namespace orderlink {
namespace {

using View = MonitorList::View;

std::vector<std::string> Statuses(const MonitorList& list) {
  std::vector<std::string> statuses;
  for (const auto& entry : list.Entries()) statuses.emplace_back(MonitorList::Status(entry));
  return statuses;
}

TEST(MonitorListTest, StatusIsThePresentStateWhicheverViewWasChosen) {
  MonitorList list;
  list.Add("001");
  list.Add("002");
  EXPECT_TRUE(list.MarkSwitchedOn("002"));
  EXPECT_EQ(list.Entries()[1].image, MonitorList::kSwitchedOn);
  EXPECT_EQ(list.Entries()[0].image, MonitorList::kSwitchedOff);

  list.Choose(View::SmallIcons);
  list.Choose(View::Details);
  EXPECT_EQ(Statuses(list), (std::vector<std::string>{"关机", "开机"}));
  list.Choose(View::Details);
  EXPECT_EQ(Statuses(list), (std::vector<std::string>{"关机", "开机"})) << "status unchanged";

  // A log-in after the details view was chosen changes picture and status alike.
  EXPECT_TRUE(list.MarkSwitchedOn("001"));
  EXPECT_EQ(list.Entries()[0].image, MonitorList::kSwitchedOn);
  EXPECT_EQ(Statuses(list), (std::vector<std::string>{"开机", "开机"}));
}

TEST(MonitorListTest, UnknownHandsetChangesNothingRepeatedLoginStaysOn) {
  MonitorList list;
  list.Add("001");
  EXPECT_FALSE(list.MarkSwitchedOn("009"));
  EXPECT_FALSE(list.MarkSwitchedOn("1"));
  EXPECT_EQ(list.Entries()[0].image, MonitorList::kSwitchedOff);
  EXPECT_TRUE(list.MarkSwitchedOn("001"));
  EXPECT_TRUE(list.MarkSwitchedOn("001"));
  EXPECT_EQ(Statuses(list), std::vector<std::string>{"开机"});
}

class MonitorPageTest : public ::testing::Test {
 protected:
  MonitorPageTest() {
    page.AddHandset("001");
    page.AddHandset("002");
    page.HandsetsComplete();
    page.resize(400, 300);
    page.show();
  }
  void Press(Qt::MouseButton button) {
    QWidget* viewport =
        static_cast<QAbstractItemView*>(page.handsetList->currentWidget())->viewport();
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), viewport->mapToGlobal(QPointF(5, 5)),
                      button, button, Qt::NoModifier);
    QApplication::sendEvent(viewport, &press);
  }
  MonitorPage page;
};

TEST_F(MonitorPageTest, StartsInLargeIconsWithSwitchedOffEntries) {
  EXPECT_EQ(page.handsetList->currentWidget(), page.iconView);
  EXPECT_EQ(page.iconView->iconSize(), QSize(32, 32));
  ASSERT_EQ(page.iconView->count(), 2);
  EXPECT_EQ(page.iconView->item(1)->text(), "002");
  EXPECT_TRUE(page.largeIconsAction->isChecked());
  EXPECT_FALSE(page.smallIconsAction->isChecked() || page.detailsAction->isChecked());
  EXPECT_EQ(page.portAction->text(), "COM1") << "until start-up names the port";
}

TEST_F(MonitorPageTest, OnlyTheRightButtonOpensTheMenu) {
  Press(Qt::LeftButton);
  EXPECT_FALSE(page.contextMenu->isVisible());
  Press(Qt::RightButton);
  EXPECT_TRUE(page.contextMenu->isVisible());
  page.contextMenu->hide();
}

TEST_F(MonitorPageTest, MenuSwitchesViewsAndChecks) {
  page.smallIconsAction->trigger();
  EXPECT_EQ(page.handsetList->currentWidget(), page.iconView);
  EXPECT_EQ(page.iconView->iconSize(), QSize(16, 16));
  EXPECT_TRUE(page.smallIconsAction->isChecked());
  EXPECT_FALSE(page.largeIconsAction->isChecked() || page.detailsAction->isChecked());

  page.detailsAction->trigger();
  EXPECT_EQ(page.handsetList->currentWidget(), page.detailsView);
  EXPECT_TRUE(page.detailsAction->isChecked());
  EXPECT_FALSE(page.largeIconsAction->isChecked() || page.smallIconsAction->isChecked());
  EXPECT_EQ(page.detailsView->headerItem()->text(0), "点菜机号");
  EXPECT_EQ(page.detailsView->headerItem()->text(1), "状态");
  ASSERT_EQ(page.detailsView->topLevelItemCount(), 2);
  EXPECT_EQ(page.detailsView->topLevelItem(0)->text(1), "关机");
  EXPECT_TRUE(page.detailsView->topLevelItem(0)->icon(0).isNull()) << "no pictures in details";

  page.largeIconsAction->trigger();
  EXPECT_EQ(page.handsetList->currentWidget(), page.iconView);
  EXPECT_EQ(page.iconView->iconSize(), QSize(32, 32));
}

TEST_F(MonitorPageTest, SwitchOnFromTheReceiveThreadIsAppliedOnTheWindowThread) {
  std::thread receiveThread([this] {
    page.MarkSwitchedOn("002");
    page.MarkSwitchedOn("077");  // no such entry
  });
  receiveThread.join();
  EXPECT_EQ(page.List().Entries()[1].image, MonitorList::kSwitchedOff) << "not yet delivered";
  QApplication::processEvents();
  EXPECT_EQ(page.List().Entries()[1].image, MonitorList::kSwitchedOn);
  EXPECT_EQ(page.List().Entries()[0].image, MonitorList::kSwitchedOff);

  page.detailsAction->trigger();
  EXPECT_EQ(page.detailsView->topLevelItem(1)->text(1), "开机");
  EXPECT_EQ(page.detailsView->topLevelItem(0)->text(1), "关机");

  // Switched on while the details view shows: its status and, back in the icon
  // view, its picture say so.
  std::thread([this] { page.MarkSwitchedOn("001"); }).join();
  QApplication::processEvents();
  EXPECT_EQ(page.detailsView->topLevelItem(0)->text(1), "开机");
  page.smallIconsAction->trigger();
  page.detailsAction->trigger();
  EXPECT_EQ(page.detailsView->topLevelItem(0)->text(1), "开机");
  EXPECT_EQ(page.detailsView->topLevelItem(1)->text(1), "开机");
}

}  // namespace
}  // namespace orderlink
