#pragma once
// The download tab: handset tree with its counter, the table check boxes, the
// progress cell, the instructions and the start/stop button. Clicks and status-timer
// ticks go to DownloadController; workers reach the page through DownloadView,
// whose cross-thread calls are queued to the window thread (WindowCallQueueQt).

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>
#include <array>
#include <functional>

#include "common/HandsetListView.h"
#include "download/DownloadTables.h"
#include "download/DownloadView.h"
#include "link/LineActivity.h"
#include "ui_support/WindowCallQueueQt.h"
#include "ui_support/WindowTimersQt.h"

namespace orderlink {

class DownloadController;

// The progress cell: one cell, one row, one column. The text is centred horizontally,
// 5 pixels below the cell's top; behind it the cell fills with the share done.
class ProgressGrid : public QWidget {
 public:
  static constexpr int kColumnWidth = 445;
  static constexpr int kMinimumColumnWidth = 360;
  static constexpr int kRowHeight = 28;
  static constexpr int kLineWidth = 2;
  static constexpr int kTextTop = 5;

  explicit ProgressGrid(QWidget* parent = nullptr);
  void SetProgress(const DownloadProgress& progress);
  [[nodiscard]] const DownloadProgress& Progress() const { return progress_; }
  [[nodiscard]] QString Text() const { return QString::fromStdString(progress_.text); }
  [[nodiscard]] QSize sizeHint() const override;
  // The text as drawn: elided when wider than the cell.
  [[nodiscard]] QString ShownText() const;
  // Where the text is drawn inside the widget.
  [[nodiscard]] int TextLeft() const;
  // Width of the filled part of the cell.
  [[nodiscard]] int FillWidth() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  [[nodiscard]] QRect CellRect() const;
  DownloadProgress progress_;
};

class DownloadPage : public QWidget, public DownloadView, public HandsetListView {
  Q_OBJECT

 public:
  // Handset node state pictures.
  static constexpr int kNoState = -1;
  static constexpr int kNotSelected = 1;
  static constexpr int kSelected = 2;
  // The tree's second column tells how a handset's last download ended.
  static constexpr int kOutcomeColumn = 1;

  // `openPasswordForm` shows the administrator password form modally. `line` must
  // outlive the page.
  DownloadPage(std::function<void()> openPasswordForm, const LineActivity& line,
               QWidget* parent = nullptr);

  // The logic behind the clicks and ticks; set once before the page is used.
  void SetController(DownloadController* controller) { controller_ = controller; }

  // DownloadView.
  [[nodiscard]] bool TableTicked(int index) const override;
  [[nodiscard]] std::vector<int> TickedHandsets() const override;
  [[nodiscard]] int HandsetCounter() const override;
  void SetStartStopCaption(const std::string& utf8) override;
  void SetInputsEnabled(bool enabled) override;
  void ShowHandsetOutcome(int handset, HandsetOutcome outcome) override;
  void ClearHandsetOutcomes() override;
  void SetProgress(const DownloadProgress& progress) override;
  void SetStatusTimerEnabled(bool enabled) override;
  void StartStatusTimerIfStopped() override;

  // The window's pauses of the download logic; they end with this page.
  [[nodiscard]] WindowTimers& Timers() { return *timers_; }

  // HandsetListView (start-up).
  void AddHandset(const std::string& text) override;
  void HandsetsComplete() override;

  [[nodiscard]] static int NodeState(const QTreeWidgetItem* node);
  [[nodiscard]] QCheckBox* TableBox(int index) const { return tableBoxes_[index]; }

  // Components, named as their objectName.
  QGroupBox* handsetGroup;
  QTreeWidget* downloadHandsetTree;
  QTreeWidgetItem* rootNode;
  QCheckBox* selectAllBox;
  QLabel* counterCaption;
  QLabel* handsetCounter;
  QLabel* counterUnit;
  QGroupBox* tablesGroup;
  QCheckBox* recommendedDishesBox;
  QCheckBox* recommendedDishContentsBox;
  QCheckBox* adminPasswordBox;
  QGroupBox* progressGroup;
  ProgressGrid* progressCell;
  QGroupBox* instructionsGroup;
  QLabel* instructions;
  QPushButton* startStopButton;
  QPushButton* passwordButton;
  QTimer* statusTimer;

 signals:
  // The tray tool-tip line while a download runs; empty when none runs.
  void TrayProgressChanged(const QString& line);

 private:
  void ToggleNode(QTreeWidgetItem* node);
  void ApplySelectAll();
  void OpenPasswordFormIfTicked();
  void SetNodeState(QTreeWidgetItem* node, int state);
  void AddToCounter(int delta);

  std::function<void()> openPasswordForm_;
  const LineActivity& line_;
  DownloadController* controller_ = nullptr;
  WindowTimersQt* timers_;
  WindowCallQueueQt* windowCalls_;  // how workers' changes reach the page
  std::array<QCheckBox*, kDownloadTableCount> tableBoxes_{};
  QIcon notSelectedIcon_;
  QIcon selectedIcon_;
};

}  // namespace orderlink
