#pragma once
// The tab "监测": the list of the handsets of this base station with their
// switched-on state, and its context menu (three views, the serial port
// in use, the version). The list is filled at start-up like every handset list.

#include <QAction>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QWidget>
#include <string>

#include "common/HandsetListView.h"
#include "monitor/MonitorList.h"

namespace orderlink {

class MonitorPage final : public QWidget, public HandsetListView {
  Q_OBJECT

 public:
  explicit MonitorPage(QWidget* parent = nullptr);

  void AddHandset(const std::string& text) override;
  void HandsetsComplete() override;

  // The handset with this text ("007") logged in. Any thread: the change is queued
  // to the window thread in order; the caller never waits.
  void MarkSwitchedOn(const std::string& text);
  // The port name of the base-station file, shown under "查看串口".
  void SetPortName(const QString& name);
  // The parser's drops since start (MonitorList::DiscardLine) under the list; none
  // shows no line. Window thread.
  void ShowDiscards(const DiscardCounts& totals);

  void ListMousePressed(Qt::MouseButton button);
  void ShowLargeIcons();
  void ShowSmallIcons();
  void ShowDetails();

  [[nodiscard]] const MonitorList& List() const { return list_; }

  // handsetList shows iconView in the two icon views and detailsView in the details view.
  QStackedWidget* handsetList;
  QListWidget* iconView;
  QTreeWidget* detailsView;
  QMenu* contextMenu;
  QAction* largeIconsAction;
  QAction* smallIconsAction;
  QAction* detailsAction;
  QAction* portMenuAction;
  QAction* versionMenuAction;
  QAction* portAction;
  QAction* versionAction;
  QLabel* discardLine;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Choose(MonitorList::View view);
  void Refresh();

  MonitorList list_;
  QIcon largeIcons_[2];  // 32 x 32: switched on, switched off
  QIcon smallIcons_[2];  // 16 x 16
};

}  // namespace orderlink
