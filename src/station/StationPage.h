#pragma once
// The "基站" tab: station type and role, channel, station number, slave address,
// the start button and the dialogue timer. The type handlers only keep the
// controls consistent; the dialogue itself is StationConfig. Window thread only.

#include <QWidget>

#include "station/StationConfig.h"
#include "ui_support/WindowTimersQt.h"

class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;

namespace orderlink {

class StationPage : public QWidget, public StationView {
  Q_OBJECT

 public:
  // `handsets` is the test tab's handset tree; `send` and `poller` may be null;
  // `line` must outlive the page.
  StationPage(MessageSink& messages, SendThread* send, HandsetPoller* poller,
              const HandsetTree& handsets, LineActivity& line, QWidget* parent = nullptr);

  [[nodiscard]] StationConfig& Logic() { return config_; }

  // StationView.
  void ShowTransfer(bool transferring) override;
  void SetConfigureButtonEnabled(bool enabled) override;
  void SetDialogueTimer(bool running) override;

  void ChooseDataStation();
  void ChooseVoiceStation();
  void ChooseMasterStation();
  void ChooseSlaveStation();
  void StartConfiguration();

 private:
  StationConfig config_;
  WindowTimersQt timers_;  // after config_: destroyed first, so no pending step outlives it
  QRadioButton* dataStationRadio_;
  QRadioButton* voiceStationRadio_;
  QRadioButton* masterStationRadio_;
  QRadioButton* slaveStationRadio_;
  QComboBox* channelCombo_;
  QComboBox* stationNumberCombo_;
  QLineEdit* slaveAddressEdit_;
  QPushButton* configureButton_;
  QTimer* dialogueTimer_;
};

}  // namespace orderlink
