#include "station/StationPage.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>

namespace orderlink {

namespace {

QComboBox* NumberCombo(const QString& name, int first, int last, QWidget* parent) {
  auto* combo = new QComboBox(parent);
  combo->setObjectName(name);
  combo->setEditable(true);  // typed text is accepted too; StationConfig checks it
  for (int i = first; i <= last; ++i) combo->addItem(QString::number(i));
  combo->setCurrentIndex(0);
  return combo;
}

}  // namespace

StationPage::StationPage(MessageSink& messages, SendThread* send, HandsetPoller* poller,
                         const HandsetTree& handsets, LineActivity& line, QWidget* parent)
    : QWidget(parent), config_(timers_, messages, send, poller, handsets, *this, line) {
  // Decorative column on the left.
  auto* banner = new QGroupBox(this);
  auto* bannerLayout = new QVBoxLayout(banner);
  for (const char* character : {"基", "站", "配", "置", "数", "据"}) {
    auto* label = new QLabel(QString::fromUtf8(character), banner);
    QFont font = label->font();
    font.setPointSize(18);
    font.setBold(true);
    label->setFont(font);
    label->setAlignment(Qt::AlignCenter);
    bannerLayout->addWidget(label);
  }

  auto* typeBox = new QGroupBox(QStringLiteral("基站类型选择"), this);
  dataStationRadio_ = new QRadioButton(QStringLiteral("数据基站"), typeBox);
  dataStationRadio_->setObjectName(QStringLiteral("dataStationRadio"));
  voiceStationRadio_ = new QRadioButton(QStringLiteral("语音基站"), typeBox);
  voiceStationRadio_->setObjectName(QStringLiteral("voiceStationRadio"));
  auto* typeLayout = new QHBoxLayout(typeBox);
  typeLayout->addWidget(dataStationRadio_);
  typeLayout->addWidget(voiceStationRadio_);

  auto* roleBox = new QGroupBox(QStringLiteral("语音基站类型"), this);
  masterStationRadio_ = new QRadioButton(QStringLiteral("主基站"), roleBox);
  masterStationRadio_->setObjectName(QStringLiteral("masterStationRadio"));
  slaveStationRadio_ = new QRadioButton(QStringLiteral("从基站"), roleBox);
  slaveStationRadio_->setObjectName(QStringLiteral("slaveStationRadio"));
  auto* roleLayout = new QHBoxLayout(roleBox);
  roleLayout->addWidget(masterStationRadio_);
  roleLayout->addWidget(slaveStationRadio_);

  channelCombo_ = NumberCombo(QStringLiteral("channelCombo"), 0, 7, this);
  stationNumberCombo_ = NumberCombo(QStringLiteral("stationNumberCombo"), 1, 15, this);
  slaveAddressEdit_ = new QLineEdit(QStringLiteral("255"), this);
  slaveAddressEdit_->setObjectName(QStringLiteral("slaveAddressEdit"));

  auto* fields = new QFormLayout;
  fields->addRow(QStringLiteral("信道选择"), channelCombo_);
  fields->addRow(QStringLiteral("基站编号"), stationNumberCombo_);
  fields->addRow(QStringLiteral("从机地址"), slaveAddressEdit_);

  configureButton_ = new QPushButton(QStringLiteral("确定"), this);
  configureButton_->setObjectName(QStringLiteral("configureButton"));

  auto* helpBox = new QGroupBox(QStringLiteral("说明"), this);
  auto* help = new QLabel(QStringLiteral("★首先选择基站类型，语音基站的从机地址范围为1到254\n\n"
                                         "★选择语音基站时，注意kp上的点菜机号数量不能大于60个"),
                          helpBox);
  help->setWordWrap(true);
  help->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  (new QVBoxLayout(helpBox))->addWidget(help);

  dialogueTimer_ = new QTimer(this);
  dialogueTimer_->setObjectName(QStringLiteral("dialogueTimer"));
  dialogueTimer_->setInterval(StationConfig::kDialogueTickMs);

  dataStationRadio_->setChecked(true);
  masterStationRadio_->setChecked(true);
  masterStationRadio_->setEnabled(false);
  slaveStationRadio_->setEnabled(false);
  slaveAddressEdit_->setEnabled(false);

  // clicked, not toggled: only the user's choice runs the handlers.
  connect(dataStationRadio_, &QRadioButton::clicked, this, &StationPage::ChooseDataStation);
  connect(voiceStationRadio_, &QRadioButton::clicked, this, &StationPage::ChooseVoiceStation);
  connect(masterStationRadio_, &QRadioButton::clicked, this, &StationPage::ChooseMasterStation);
  connect(slaveStationRadio_, &QRadioButton::clicked, this, &StationPage::ChooseSlaveStation);
  connect(configureButton_, &QPushButton::clicked, this, &StationPage::StartConfiguration);
  connect(dialogueTimer_, &QTimer::timeout, this, [this] { config_.DialogueTick(); });

  // Two rows of choices and the help box must fit the fixed window without squeezing.
  auto* choices = new QHBoxLayout;
  choices->addWidget(typeBox);
  choices->addWidget(roleBox);
  auto* entry = new QHBoxLayout;
  entry->addLayout(fields, 1);
  entry->addWidget(configureButton_, 0, Qt::AlignBottom);
  auto* right = new QVBoxLayout;
  right->addLayout(choices);
  right->addLayout(entry);
  right->addWidget(helpBox, 1);
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(banner);
  layout->addLayout(right, 1);
}

void StationPage::ChooseDataStation() {
  masterStationRadio_->setEnabled(false);
  slaveStationRadio_->setEnabled(false);
  slaveAddressEdit_->setEnabled(false);
  stationNumberCombo_->setEnabled(true);
}

void StationPage::ChooseVoiceStation() {
  masterStationRadio_->setEnabled(true);
  slaveStationRadio_->setEnabled(true);
  stationNumberCombo_->setEnabled(false);
  if (masterStationRadio_->isChecked()) {
    ChooseMasterStation();
  } else {
    slaveAddressEdit_->setEnabled(true);
  }
}

void StationPage::ChooseMasterStation() {
  slaveAddressEdit_->setText(QStringLiteral("255"));
  slaveAddressEdit_->setEnabled(false);
}

void StationPage::ChooseSlaveStation() {
  slaveAddressEdit_->setText(QStringLiteral("1"));
  slaveAddressEdit_->setEnabled(true);
}

void StationPage::StartConfiguration() {
  config_.StartConfiguration({voiceStationRadio_->isChecked(), masterStationRadio_->isChecked(),
                              channelCombo_->currentText().toStdString(),
                              stationNumberCombo_->currentText().toStdString(),
                              slaveAddressEdit_->text().toStdString()});
}

void StationPage::ShowTransfer(bool transferring) {
  configureButton_->setText(transferring ? QStringLiteral("传输") : QStringLiteral("确定"));
}

void StationPage::SetConfigureButtonEnabled(bool enabled) { configureButton_->setEnabled(enabled); }

void StationPage::SetDialogueTimer(bool running) {
  if (running) {
    dialogueTimer_->start();
  } else {
    dialogueTimer_->stop();
  }
}

}  // namespace orderlink
