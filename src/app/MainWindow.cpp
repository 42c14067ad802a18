#include "app/MainWindow.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include "ui_support/Pictures.h"

namespace orderlink {

namespace {

constexpr int kClientWidth = 626;
constexpr int kClientHeight = 361;
constexpr int kStatusHeight = 20;

QWidget* TabContent(QWidget* page, const char* name) {
  auto* tab = new QWidget;
  tab->setObjectName(name);
  auto* layout = new QVBoxLayout(tab);
  layout->setContentsMargins(0, 0, 0, 0);
  if (page != nullptr) layout->addWidget(page);
  return tab;
}

}  // namespace

MainWindow::MainWindow(const MainPages& pages, MessageSink& messages, const LineActivity& line,
                       QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint),
      messages_(messages),
      line_(line) {
  setObjectName("mainWindow");
  setWindowTitle("无线点菜机管理");
  setWindowIcon(PictureIcon("tab_test.png"));

  tabs = new QTabWidget(this);
  tabs->setObjectName("tabs");
  tabs->setIconSize(QSize(32, 32));
  tabs->setDocumentMode(true);
  monitorTab = TabContent(pages.monitor, "monitorTab");
  testTab = TabContent(pages.test, "testTab");
  downloadTab = TabContent(pages.download, "downloadTab");
  stationTab = TabContent(pages.station, "stationTab");
  tabs->addTab(monitorTab, PictureIcon("tab_monitor.png"), "监测");
  tabs->addTab(testTab, PictureIcon("tab_test.png"), "测试");
  tabs->addTab(downloadTab, PictureIcon("tab_download.png"), "下载");
  tabs->addTab(stationTab, PictureIcon("tab_station.png"), "基站");
  tabs->setCurrentWidget(downloadTab);

  // The title and the close button sit at the right end of the tab row, wherever
  // the window's edge is.
  auto* corner = new QWidget(tabs);
  titleLabel = new QLabel("无 线 点 菜 机 管 理", corner);
  titleLabel->setObjectName("titleLabel");
  QFont titleFont = titleLabel->font();
  titleFont.setItalic(true);
  titleFont.setPixelSize(20);
  titleLabel->setFont(titleFont);
  closeButton = new QPushButton(PictureIcon("close.png"), "关闭", corner);
  closeButton->setObjectName("closeButton");
  closeButton->setMinimumSize(80, 34);
  connect(closeButton, &QPushButton::clicked, this, &MainWindow::CloseButtonClicked);
  auto* cornerLayout = new QHBoxLayout(corner);
  cornerLayout->setContentsMargins(0, 4, 6, 4);
  cornerLayout->addWidget(titleLabel);
  cornerLayout->addSpacing(4);
  cornerLayout->addWidget(closeButton);
  tabs->setCornerWidget(corner, Qt::TopRightCorner);

  statusBar = new QStatusBar(this);
  statusBar->setObjectName("statusBar");
  statusBar->setSizeGripEnabled(false);
  statusBar->setFixedHeight(kStatusHeight);
  for (int width : {100, 50}) {
    auto* panel = new QLabel(statusBar);
    panel->setFixedWidth(width);
    statusBar->addWidget(panel);
  }

  // Layouts, not fixed geometry: the window opens at its client size and whatever
  // it is enlarged to goes to the pages (their trees, grids and texts grow).
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(tabs, 1);
  layout->addWidget(statusBar);
  resize(kClientWidth, kClientHeight);

  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
}

bool MainWindow::RefuseCloseDuringDownload() {
  if (!line_.downloadRunning.load()) return false;
  // Ending now would leave the handsets waiting for a kCodeDownloadEnd that never comes.
  messages_.ShowMessage("正在下载数据，请先停止下载！");
  return true;
}

void MainWindow::CloseButtonClicked() {
  if (RefuseCloseDuringDownload()) return;
  if (onShutdown) onShutdown();
}

void MainWindow::Restore() {
  showNormal();
  raise();
  activateWindow();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (RefuseCloseDuringDownload()) {
    event->ignore();
    return;
  }
  if (onShutdown) onShutdown();
  event->accept();
}

void MainWindow::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && isMinimized() && minimiseHides_) {
    // Hidden after the state change has been handled; the tray icon stays.
    QTimer::singleShot(0, this, [this] {
      if (isMinimized()) hide();
    });
  }
}

}  // namespace orderlink
