#pragma once
// The tab "监测": the list ListView1 of the handsets of this base station with their
// switched-on state, and its context menu PopupMenu1 (three views, the serial port
// in use, the version). The list is filled at start-up like every handset list.

#include <QAction>
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

  void ListView1MouseDown(Qt::MouseButton button);
  void MenuItem1N1Click();
  void MenuItem1N2Click();
  void MenuItem1N3Click();

  [[nodiscard]] const MonitorList& List() const { return list_; }

  // ListView1 shows IconView in the two icon views and ReportView in the details view.
  QStackedWidget* ListView1;
  QListWidget* IconView;
  QTreeWidget* ReportView;
  QMenu* PopupMenu1;
  QAction* N1;
  QAction* N2;
  QAction* N3;
  QAction* N4;
  QAction* N5;
  QAction* comn;
  QAction* V131;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Choose(MonitorList::View view);
  void Refresh();

  MonitorList list_;
  QIcon imagelist4_[2];  // 32 x 32: switched on, switched off
  QIcon ImageList3_[2];  // 16 x 16
};

}  // namespace orderlink
