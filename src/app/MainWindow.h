#pragma once
// MainWindow: the frame around the four working tabs, with the title, the close
// button and the status bar. It opens at 626 x 361 and may be enlarged or maximised;
// the pages grow with it. Not shown at start; the tray icon brings it up and
// minimising sends it back to the tray. Every way of closing runs `onShutdown`
// (Application::Quit); the close button first refuses while a download runs.

#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QWidget>
#include <functional>

#include "common/MessageSink.h"
#include "link/LineActivity.h"

namespace orderlink {

// The widgets of the four tabs, made by their subsystems. Null gives an empty tab.
struct MainPages {
  QWidget* monitor = nullptr;   // "监测"
  QWidget* test = nullptr;      // "测试"
  QWidget* download = nullptr;  // "下载", shown first
  QWidget* station = nullptr;   // "基站"
};

class MainWindow final : public QWidget {
  Q_OBJECT

 public:
  // `line` must outlive the window.
  MainWindow(const MainPages& pages, MessageSink& messages, const LineActivity& line,
             QWidget* parent = nullptr);

  // The whole shutdown of the application (Application::Quit).
  std::function<void()> onShutdown;
  // Whether minimising hides the window (only while a tray icon can bring it back).
  void SetMinimiseHides(bool hides) { minimiseHides_ = hides; }
  // Shows the window from the tray or the taskbar: restored and in front.
  void Restore();

  void CloseButtonClicked();  // "关闭"

  QTabWidget* tabs;
  QWidget* monitorTab;
  QWidget* testTab;
  QWidget* downloadTab;
  QWidget* stationTab;
  QLabel* titleLabel;
  QPushButton* closeButton;
  QStatusBar* statusBar;

 protected:
  void closeEvent(QCloseEvent* event) override;  // the title bar's close box
  void changeEvent(QEvent* event) override;      // minimise

 private:
  // The download must be stopped first: says so and returns true while one runs.
  bool RefuseCloseDuringDownload();

  MessageSink& messages_;
  const LineActivity& line_;
  bool minimiseHides_ = false;
};

}  // namespace orderlink
