#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include "linktest/TestPage.h"
#include "support/RecordingMessages.h"

namespace orderlink {
namespace {

class TestPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* h : {"001", "002", "003"}) page.AddHandset(h);
    page.HandsetsComplete();
    root = page.findChild<QTreeWidget*>("handsetTree")->topLevelItem(0);
  }
  test::RecordingMessages messages;
  LineActivity line;
  TestPage page{messages, nullptr, nullptr, line};
  QTreeWidgetItem* root = nullptr;
};

TEST_F(TestPageTest, StartUpFillsTreeAndGridAndTheTreeIsSingleChoice) {
  EXPECT_EQ(root->text(0), "无线点菜机");
  EXPECT_TRUE(root->isExpanded());
  ASSERT_EQ(root->childCount(), 3);
  EXPECT_FALSE(root->data(0, Qt::CheckStateRole).isValid());  // the root has no picture

  const auto* grid = page.findChild<QTableView*>("statisticsGrid");
  ASSERT_EQ(grid->model()->rowCount(), 3);
  EXPECT_EQ(grid->model()->headerData(3, Qt::Horizontal).toString(), "发送误码率");
  EXPECT_EQ(grid->model()->index(1, 0).data().toString(), "002");
  const int widths[] = {33, 56, 56, 70, 56, 56, 56, 70};
  for (int c = 0; c < 8; ++c) EXPECT_EQ(grid->columnWidth(c), widths[c]) << c;

  QTreeWidget* tree = root->treeWidget();
  tree->setCurrentItem(root->child(0));
  tree->setCurrentItem(root->child(2));
  tree->setCurrentItem(root);  // changes nothing
  EXPECT_EQ(root->child(0)->checkState(0), Qt::Unchecked);
  EXPECT_EQ(root->child(2)->checkState(0), Qt::Checked);
}

TEST_F(TestPageTest, StartAndStopDriveCaptionTimerAndControls) {
  auto* start = page.findChild<QPushButton*>("startButton");
  auto* timer = page.findChild<QTimer*>("testTimer");
  auto* reset = page.findChild<QToolButton*>("resetCountersButton");
  EXPECT_EQ(page.findChild<QLineEdit*>("waitEdit")->text(), "500");
  page.findChild<QLineEdit*>("waitEdit")->setText("250");
  root->treeWidget()->setCurrentItem(root->child(1));

  QTest::mouseClick(start, Qt::LeftButton);
  EXPECT_EQ(start->text(), "停止测试");
  EXPECT_TRUE(timer->isActive());
  EXPECT_EQ(timer->interval(), 250);
  EXPECT_FALSE(root->treeWidget()->isEnabled() || reset->isEnabled() ||
               page.findChild<QToolButton*>("saveRecordButton")->isEnabled());
  page.Logic().TestStep();
  page.Logic().TestStep();
  const auto* model = page.findChild<QTableView*>("statisticsGrid")->model();
  EXPECT_EQ(model->index(1, 7).data().toString(), "100%");

  QTest::mouseClick(start, Qt::LeftButton);
  EXPECT_EQ(start->text(), "开始测试");
  EXPECT_FALSE(timer->isActive());
  EXPECT_TRUE(root->treeWidget()->isEnabled());
  QTest::mouseClick(reset, Qt::LeftButton);
  EXPECT_EQ(model->index(1, 7).data().toString(), "0");
  EXPECT_TRUE(messages.Messages().empty());
}

}  // namespace
}  // namespace orderlink
