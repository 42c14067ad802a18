#include "monitor/MonitorPage.h"

#include <QCursor>
#include <QHeaderView>
#include <QMouseEvent>
#include <QVBoxLayout>

#include "app/PicturesQt.h"

namespace orderlink {

MonitorPage::MonitorPage(QWidget* parent) : QWidget(parent) {
  setObjectName("TabSheet1Content");
  imagelist4_[MonitorList::kSwitchedOn] = PictureIcon("handset_on_32.png");
  imagelist4_[MonitorList::kSwitchedOff] = PictureIcon("handset_off_32.png");
  ImageList3_[MonitorList::kSwitchedOn] = PictureIcon("handset_on_16.png");
  ImageList3_[MonitorList::kSwitchedOff] = PictureIcon("handset_off_16.png");

  ListView1 = new QStackedWidget(this);
  ListView1->setObjectName("ListView1");
  IconView = new QListWidget(ListView1);
  IconView->setObjectName("ListView1Icons");
  IconView->setMovement(QListView::Static);
  IconView->setResizeMode(QListView::Adjust);
  IconView->setWrapping(true);
  IconView->setSelectionMode(QAbstractItemView::SingleSelection);
  ReportView = new QTreeWidget(ListView1);
  ReportView->setObjectName("ListView1Report");
  ReportView->setRootIsDecorated(false);
  ReportView->setColumnCount(2);
  ReportView->setHeaderLabels({"点菜机号", "状态"});
  ReportView->header()->setStretchLastSection(false);
  ReportView->setColumnWidth(0, 80);
  ReportView->setColumnWidth(1, 80);
  ListView1->addWidget(IconView);
  ListView1->addWidget(ReportView);

  // Button-face background, red text 15 pixels high.
  for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(IconView),
                                  static_cast<QAbstractItemView*>(ReportView)}) {
    QPalette palette = view->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Button));
    palette.setColor(QPalette::Text, Qt::red);
    view->setPalette(palette);
    QFont font = view->font();
    font.setPixelSize(15);
    view->setFont(font);
    view->viewport()->installEventFilter(this);
  }

  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName("PopupMenu1");
  N1 = PopupMenu1->addAction("大图标", this, &MonitorPage::MenuItem1N1Click);
  N2 = PopupMenu1->addAction("小图标", this, &MonitorPage::MenuItem1N2Click);
  N3 = PopupMenu1->addAction("详细信息", this, &MonitorPage::MenuItem1N3Click);
  QMenu* portMenu = PopupMenu1->addMenu("查看串口");
  N4 = portMenu->menuAction();
  comn = portMenu->addAction("COM1");
  QMenu* versionMenu = PopupMenu1->addMenu("查看版本");
  N5 = versionMenu->menuAction();
  V131 = versionMenu->addAction("QNPT-V5.3");
  for (QAction* item : {N1, N2, N3, comn}) item->setCheckable(true);
  comn->setChecked(true);
  N1->setObjectName("N1");
  N2->setObjectName("N2");
  N3->setObjectName("N3");
  N4->setObjectName("N4");
  N5->setObjectName("N5");
  comn->setObjectName("comn");
  V131->setObjectName("V131");

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(ListView1);

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

void MonitorPage::SetPortName(const QString& name) { comn->setText(name); }

void MonitorPage::ListView1MouseDown(Qt::MouseButton button) {
  if (button == Qt::RightButton) PopupMenu1->popup(QCursor::pos());
}

void MonitorPage::MenuItem1N1Click() { Choose(MonitorList::View::LargeIcons); }
void MonitorPage::MenuItem1N2Click() { Choose(MonitorList::View::SmallIcons); }
void MonitorPage::MenuItem1N3Click() { Choose(MonitorList::View::Details); }

void MonitorPage::Choose(MonitorList::View view) {
  list_.Choose(view);
  N1->setChecked(view == MonitorList::View::LargeIcons);
  N2->setChecked(view == MonitorList::View::SmallIcons);
  N3->setChecked(view == MonitorList::View::Details);
  switch (view) {
    case MonitorList::View::LargeIcons:
      IconView->setViewMode(QListView::IconMode);
      IconView->setIconSize(QSize(32, 32));
      break;
    case MonitorList::View::SmallIcons:
      IconView->setViewMode(QListView::ListMode);
      IconView->setFlow(QListView::LeftToRight);
      IconView->setWrapping(true);
      IconView->setIconSize(QSize(16, 16));
      break;
    case MonitorList::View::Details:
      break;
  }
  ListView1->setCurrentWidget(view == MonitorList::View::Details
                                  ? static_cast<QWidget*>(ReportView)
                                  : static_cast<QWidget*>(IconView));
  Refresh();
}

void MonitorPage::Refresh() {
  const auto& entries = list_.Entries();
  if (list_.CurrentView() == MonitorList::View::Details) {
    ReportView->clear();
    for (const auto& entry : entries) {
      ReportView->addTopLevelItem(new QTreeWidgetItem(
          {QString::fromStdString(entry.caption),
           QString::fromStdString(MonitorList::Status(entry))}));
    }
    return;
  }
  const QIcon* icons =
      list_.CurrentView() == MonitorList::View::LargeIcons ? imagelist4_ : ImageList3_;
  IconView->clear();
  for (const auto& entry : entries) {
    IconView->addItem(new QListWidgetItem(icons[entry.image], QString::fromStdString(entry.caption)));
  }
}

bool MonitorPage::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonPress) {
    ListView1MouseDown(static_cast<QMouseEvent*>(event)->button());
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace orderlink
