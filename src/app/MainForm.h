#pragma once
// TMainForm: the frame around the four working tabs, with the title, the close
// button and the status bar. Not shown at start; the tray icon brings it up and
// minimising sends it back to the tray. Every way of closing runs `onShutdown`
// (FormCloseQuery); the close button first refuses while a download runs.

#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QWidget>
#include <functional>

#include "common/Messages.h"
#include "link/LineActivity.h"

namespace orderlink {

// The widgets of the four tabs, made by their subsystems. Null gives an empty tab.
struct MainPages {
  QWidget* monitor = nullptr;   // "监测"
  QWidget* test = nullptr;      // "测试"
  QWidget* download = nullptr;  // "下载", shown first
  QWidget* station = nullptr;   // "基站"
};

class TMainForm final : public QWidget {
  Q_OBJECT

 public:
  // `line` must outlive the window.
  TMainForm(const MainPages& pages, MessageSink& messages, const LineActivity& line,
            QWidget* parent = nullptr);

  // The whole shutdown of the application (FormCloseQuery).
  std::function<void()> onShutdown;
  // Whether minimising hides the window (only while a tray icon can bring it back).
  void SetMinimiseHides(bool hides) { minimiseHides_ = hides; }
  // Shows the window from the tray or the taskbar: restored and in front.
  void Restore();

  void StartButtonClick();  // "关闭"

  QTabWidget* PageControl1;
  QWidget* TabSheet1;
  QWidget* TabSheet2;
  QWidget* TabSheet3;
  QWidget* TabSheet4;
  QLabel* Label6;
  QPushButton* StartButton;
  QStatusBar* StatusBar1;

 protected:
  void closeEvent(QCloseEvent* event) override;  // the title bar's close box
  void changeEvent(QEvent* event) override;      // minimise

 private:
  MessageSink& messages_;
  const LineActivity& line_;
  bool minimiseHides_ = false;
};

}  // namespace orderlink
