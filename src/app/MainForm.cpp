#include "app/MainForm.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include "app/PicturesQt.h"

namespace orderlink {

namespace {

constexpr int kClientWidth = 626;
constexpr int kClientHeight = 361;
constexpr int kStatusHeight = 20;

QWidget* Sheet(QWidget* page, const char* name) {
  auto* sheet = new QWidget;
  sheet->setObjectName(name);
  auto* layout = new QVBoxLayout(sheet);
  layout->setContentsMargins(0, 0, 0, 0);
  if (page != nullptr) layout->addWidget(page);
  return sheet;
}

}  // namespace

TMainForm::TMainForm(const MainPages& pages, MessageSink& messages, const LineActivity& line,
                     QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      messages_(messages),
      line_(line) {
  setObjectName("MainForm");
  setWindowTitle("无线点菜机管理");
  setWindowIcon(PictureIcon("tab_test.png"));
  setFixedSize(kClientWidth, kClientHeight);

  PageControl1 = new QTabWidget(this);
  PageControl1->setObjectName("PageControl1");
  PageControl1->setGeometry(0, 0, kClientWidth, kClientHeight - kStatusHeight);
  PageControl1->setIconSize(QSize(32, 32));
  PageControl1->setDocumentMode(true);
  TabSheet1 = Sheet(pages.monitor, "TabSheet1");
  TabSheet2 = Sheet(pages.test, "TabSheet2");
  TabSheet3 = Sheet(pages.download, "TabSheet3");
  TabSheet4 = Sheet(pages.station, "TabSheet4");
  // ImageList1: 0 download, 1 monitor, 2 link test, 3 base station.
  PageControl1->addTab(TabSheet1, PictureIcon("tab_monitor.png"), "监测");
  PageControl1->addTab(TabSheet2, PictureIcon("tab_test.png"), "测试");
  PageControl1->addTab(TabSheet3, PictureIcon("tab_download.png"), "下载");
  PageControl1->addTab(TabSheet4, PictureIcon("tab_station.png"), "基站");
  PageControl1->setCurrentWidget(TabSheet3);

  Label6 = new QLabel("无 线 点 菜 机 管 理", this);
  Label6->setObjectName("Label6");
  QFont title = Label6->font();
  title.setItalic(true);
  title.setPixelSize(20);
  Label6->setFont(title);
  Label6->setGeometry(346, 8, 190, 32);

  StartButton = new QPushButton(PictureIcon("close.png"), "关闭", this);
  StartButton->setObjectName("StartButton");
  StartButton->setGeometry(540, 6, 80, 34);
  connect(StartButton, &QPushButton::clicked, this, &TMainForm::StartButtonClick);

  StatusBar1 = new QStatusBar(this);
  StatusBar1->setObjectName("StatusBar1");
  StatusBar1->setSizeGripEnabled(false);
  StatusBar1->setGeometry(0, kClientHeight - kStatusHeight, kClientWidth, kStatusHeight);
  for (int width : {100, 50}) {
    auto* panel = new QLabel(StatusBar1);
    panel->setFixedWidth(width);
    StatusBar1->addWidget(panel);
  }

  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
}

void TMainForm::StartButtonClick() {
  if (line_.downloadRunning.load()) {
    messages_.ShowMessage("正在下载数据，请先停止下载！");
    return;
  }
  if (onShutdown) onShutdown();
}

void TMainForm::Restore() {
  showNormal();
  raise();
  activateWindow();
}

void TMainForm::closeEvent(QCloseEvent* event) {
  if (onShutdown) onShutdown();
  event->accept();
}

void TMainForm::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && isMinimized() && minimiseHides_) {
    // Hidden after the state change has been handled; the tray icon stays.
    QTimer::singleShot(0, this, [this] {
      if (isMinimized()) hide();
    });
  }
}

}  // namespace orderlink
