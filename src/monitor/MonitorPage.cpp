#include "monitor/MonitorPage.h"

#include <QCursor>
#include <QHeaderView>
#include <QMouseEvent>
#include <QVBoxLayout>

#include "ui_support/Pictures.h"

namespace orderlink {

MonitorPage::MonitorPage(QWidget* parent) : QWidget(parent) {
  setObjectName("monitorPage");
  largeIcons_[MonitorList::kSwitchedOn] = PictureIcon("handset_on_32.png");
  largeIcons_[MonitorList::kSwitchedOff] = PictureIcon("handset_off_32.png");
  smallIcons_[MonitorList::kSwitchedOn] = PictureIcon("handset_on_16.png");
  smallIcons_[MonitorList::kSwitchedOff] = PictureIcon("handset_off_16.png");

  handsetList = new QStackedWidget(this);
  handsetList->setObjectName("handsetList");
  iconView = new QListWidget(handsetList);
  iconView->setObjectName("iconView");
  iconView->setMovement(QListView::Static);
  iconView->setResizeMode(QListView::Adjust);
  iconView->setWrapping(true);
  iconView->setSelectionMode(QAbstractItemView::SingleSelection);
  detailsView = new QTreeWidget(handsetList);
  detailsView->setObjectName("detailsView");
  detailsView->setRootIsDecorated(false);
  detailsView->setColumnCount(2);
  detailsView->setHeaderLabels({"点菜机号", "状态"});
  detailsView->header()->setStretchLastSection(false);
  detailsView->setColumnWidth(0, 80);
  detailsView->setColumnWidth(1, 80);
  handsetList->addWidget(iconView);
  handsetList->addWidget(detailsView);

  // Button-face background, red text 15 pixels high.
  for (QAbstractItemView* view :
       {static_cast<QAbstractItemView*>(iconView), static_cast<QAbstractItemView*>(detailsView)}) {
    QPalette palette = view->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Button));
    palette.setColor(QPalette::Text, Qt::red);
    view->setPalette(palette);
    QFont font = view->font();
    font.setPixelSize(15);
    view->setFont(font);
    view->viewport()->installEventFilter(this);
  }

  contextMenu = new QMenu(this);
  contextMenu->setObjectName("contextMenu");
  largeIconsAction = contextMenu->addAction("大图标", this, &MonitorPage::ShowLargeIcons);
  smallIconsAction = contextMenu->addAction("小图标", this, &MonitorPage::ShowSmallIcons);
  detailsAction = contextMenu->addAction("详细信息", this, &MonitorPage::ShowDetails);
  QMenu* portMenu = contextMenu->addMenu("查看串口");
  portMenuAction = portMenu->menuAction();
  portAction = portMenu->addAction("COM1");
  QMenu* versionMenu = contextMenu->addMenu("查看版本");
  versionMenuAction = versionMenu->menuAction();
  versionAction = versionMenu->addAction("QNPT-V5.3");
  for (QAction* item : {largeIconsAction, smallIconsAction, detailsAction, portAction})
    item->setCheckable(true);
  portAction->setChecked(true);
  largeIconsAction->setObjectName("largeIconsAction");
  smallIconsAction->setObjectName("smallIconsAction");
  detailsAction->setObjectName("detailsAction");
  portMenuAction->setObjectName("portMenuAction");
  versionMenuAction->setObjectName("versionMenuAction");
  portAction->setObjectName("portAction");
  versionAction->setObjectName("versionAction");

  discardLine = new QLabel(this);
  discardLine->setObjectName("discardLine");
  discardLine->hide();

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(handsetList);
  layout->addWidget(discardLine);

  Choose(MonitorList::View::LargeIcons);
}

void MonitorPage::AddHandset(const std::string& text) { list_.Add(text); }

void MonitorPage::HandsetsComplete() { Refresh(); }

void MonitorPage::MarkSwitchedOn(const std::string& text) {
  QMetaObject::invokeMethod(
      this,
      [this, text] {
        if (list_.MarkSwitchedOn(text)) Refresh();
      },
      Qt::QueuedConnection);
}

void MonitorPage::SetPortName(const QString& name) { portAction->setText(name); }

void MonitorPage::ShowDiscards(const DiscardCounts& totals) {
  const std::string line = MonitorList::DiscardLine(totals);
  discardLine->setText(QString::fromStdString(line));
  discardLine->setVisible(!line.empty());
}

void MonitorPage::ListMousePressed(Qt::MouseButton button) {
  if (button == Qt::RightButton) contextMenu->popup(QCursor::pos());
}

void MonitorPage::ShowLargeIcons() { Choose(MonitorList::View::LargeIcons); }
void MonitorPage::ShowSmallIcons() { Choose(MonitorList::View::SmallIcons); }
void MonitorPage::ShowDetails() { Choose(MonitorList::View::Details); }

void MonitorPage::Choose(MonitorList::View view) {
  list_.Choose(view);
  largeIconsAction->setChecked(view == MonitorList::View::LargeIcons);
  smallIconsAction->setChecked(view == MonitorList::View::SmallIcons);
  detailsAction->setChecked(view == MonitorList::View::Details);
  switch (view) {
    case MonitorList::View::LargeIcons:
      iconView->setViewMode(QListView::IconMode);
      iconView->setIconSize(QSize(32, 32));
      break;
    case MonitorList::View::SmallIcons:
      iconView->setViewMode(QListView::ListMode);
      iconView->setFlow(QListView::LeftToRight);
      iconView->setWrapping(true);
      iconView->setIconSize(QSize(16, 16));
      break;
    case MonitorList::View::Details:
      break;
  }
  handsetList->setCurrentWidget(view == MonitorList::View::Details
                                    ? static_cast<QWidget*>(detailsView)
                                    : static_cast<QWidget*>(iconView));
  Refresh();
}

void MonitorPage::Refresh() {
  const auto& entries = list_.Entries();
  if (list_.CurrentView() == MonitorList::View::Details) {
    detailsView->clear();
    for (const auto& entry : entries) {
      detailsView->addTopLevelItem(new QTreeWidgetItem(
          {QString::fromStdString(entry.caption), QString::fromUtf8(MonitorList::Status(entry))}));
    }
    return;
  }
  const QIcon* icons =
      list_.CurrentView() == MonitorList::View::LargeIcons ? largeIcons_ : smallIcons_;
  iconView->clear();
  for (const auto& entry : entries) {
    iconView->addItem(
        new QListWidgetItem(icons[entry.image], QString::fromStdString(entry.caption)));
  }
}

bool MonitorPage::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonPress) {
    ListMousePressed(static_cast<QMouseEvent*>(event)->button());
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace orderlink
