#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include "common/Gbk.h"
#include "common/TextFile.h"
#include "linktest/TestPage.h"
#include "support/Processes.h"
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

// With many handsets in a window of the first size, at scale 1 and 2 alike: every
// column, "接收误码率" included, inside the grid without a horizontal scroll bar, and
// the row of the ticked handset current and in view; enlarged, the columns widen.
TEST(TestPageLayoutTest, AllColumnsFitAndTheTestedRowIsShown) {
  test::RecordingMessages messages;
  LineActivity line;
  TestPage page{messages, nullptr, nullptr, line};
  for (int n = 1; n <= 61; ++n) page.AddHandset(QString::asprintf("%03d", n).toStdString());
  page.HandsetsComplete();
  page.resize(626, 290);
  page.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&page));
  auto* grid = page.findChild<QTableView*>("statisticsGrid");
  auto* tree = page.findChild<QTreeWidget*>("handsetTree");
  EXPECT_EQ(grid->model()->headerData(7, Qt::Horizontal).toString(), "接收误码率");

  const auto columnsFit = [&](const char* when) {
    QApplication::processEvents();
    EXPECT_FALSE(grid->horizontalScrollBar()->isVisible()) << when;
    int right = 0;
    for (int c = 0; c < 8; ++c) {
      EXPECT_GE(grid->columnWidth(c), 30) << when << " column " << c;
      right = grid->columnViewportPosition(c) + grid->columnWidth(c);
    }
    EXPECT_LE(right, grid->viewport()->width()) << when;
    EXPECT_GE(right, grid->viewport()->width() - 1) << when << ": the row ends at the edge";
    const QFontMetrics titles(grid->horizontalHeader()->font());
    EXPECT_GE(grid->columnWidth(7), titles.horizontalAdvance("接收误码率")) << when;
  };
  columnsFit("first size");
  EXPECT_LE(tree->header()->length(), tree->viewport()->width() + 1);

  tree->setCurrentItem(tree->topLevelItem(0)->child(29));  // 030
  QApplication::processEvents();
  EXPECT_EQ(grid->currentIndex().row(), 29);
  const QRect row = grid->visualRect(grid->model()->index(29, 0));
  EXPECT_TRUE(grid->viewport()->rect().contains(row)) << "row 030 scrolled into view";

  page.resize(1000, 600);
  columnsFit("enlarged");
  EXPECT_GT(grid->columnWidth(7), 100);
  EXPECT_GT(tree->width(), 150);
}

// The page's date and time read in Chinese whatever the PC's locale is.
TEST(TestPageRecordTest, SavedRecordDatesInChinese) {
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  test::TempAppDir dir;
  test::RecordingMessages messages;
  LineActivity line;
  TestPage page{messages, nullptr, nullptr, line};
  page.AddHandset("001");
  page.HandsetsComplete();
  const std::string file = dir.Path() + "/测试记录.html";  // the proposed name
  QTimer::singleShot(100, [&] {
    if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
      dialog->setDirectory(QString::fromStdString(dir.Path()));
      QMetaObject::invokeMethod(dialog, "accept");
    }
  });
  QTest::mouseClick(page.findChild<QToolButton*>("saveRecordButton"), Qt::LeftButton);
  EXPECT_EQ(messages.Messages(), std::vector<std::string>{"文件保存成功!"});
  const auto bytes = ReadFileBytes(file);
  ASSERT_TRUE(bytes.has_value());
  const QString text = QString::fromStdString(GbkToUtf8(*bytes));
  const QRegularExpression heading(QStringLiteral(
      "<p align=\"center\">测试结果 \\d{4}年\\d{1,2}月\\d{1,2}日星期. \\d\\d:\\d\\d:\\d\\d</p>"));
  EXPECT_TRUE(heading.match(text).hasMatch()) << text.toStdString();
  QLocale::setDefault(QLocale::system());
}

}  // namespace
}  // namespace orderlink
