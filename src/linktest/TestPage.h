#pragma once
// The "测试" tab: handset tree, statistics grid, wait interval, start/stop, reset
// and save buttons, and the test timer. Thin: every click and tick goes to
// LinkTest, which holds the tree and grid state. Window thread only.

#include <QWidget>
#include <array>

#include "common/HandsetListView.h"
#include "linktest/LinkTest.h"
#include "linktest/TestRecordFile.h"

class QLineEdit;
class QPushButton;
class QTableView;
class QTimer;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace orderlink {

class TestGridModel;

class TestPage : public QWidget, public HandsetListView, public LinkTestView, private SaveDialog {
  Q_OBJECT

 public:
  // `send` and `poller` may be null; `line` must outlive the page.
  TestPage(MessageSink& messages, SendThread* send, HandsetPoller* poller, LineActivity& line,
           QWidget* parent = nullptr);

  [[nodiscard]] LinkTest& Logic() { return test_; }

  // HandsetListView (start-up).
  void AddHandset(const std::string& text) override;
  void HandsetsComplete() override;

  // LinkTestView.
  void ShowRunning(bool running) override;
  void SetTestTimer(bool enabled, int intervalMs) override;
  void GridChanged() override;
  void TreeChanged() override;

 private:
  bool eventFilter(QObject* watched, QEvent* event) override;
  std::optional<std::filesystem::path> Execute(const SaveDialogOptions& options) override;
  void BuildGrid();
  // Shares the grid's width out among the columns in proportion to their own widths.
  void FitColumns();
  // The row of the ticked handset becomes the grid's current (highlighted) row and
  // is scrolled into view.
  void ShowTestedRow();
  void CurrentTreeItemChanged(QTreeWidgetItem* current);

  MessageSink& messages_;
  LinkTest test_;
  QTreeWidget* handsetTree_;
  QTableView* statisticsGrid_;
  TestGridModel* gridModel_;
  std::array<int, TestGrid::kColumns> columnWidths_{};  // each column's own width
  QLineEdit* waitEdit_;
  QPushButton* startButton_;
  QToolButton* resetCountersButton_;
  QToolButton* saveRecordButton_;
  QTimer* testTimer_;
};

}  // namespace orderlink
