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
  combo->setEditable(true);  // typed text is accepted too; BitBtn1Click checks it
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
  RadioButton1 = new QRadioButton(QStringLiteral("数据基站"), typeBox);
  RadioButton1->setObjectName(QStringLiteral("RadioButton1"));
  RadioButton2 = new QRadioButton(QStringLiteral("语音基站"), typeBox);
  RadioButton2->setObjectName(QStringLiteral("RadioButton2"));
  auto* typeLayout = new QHBoxLayout(typeBox);
  typeLayout->addWidget(RadioButton1);
  typeLayout->addWidget(RadioButton2);

  auto* roleBox = new QGroupBox(QStringLiteral("语音基站类型"), this);
  RadioButton3 = new QRadioButton(QStringLiteral("主基站"), roleBox);
  RadioButton3->setObjectName(QStringLiteral("RadioButton3"));
  RadioButton4 = new QRadioButton(QStringLiteral("从基站"), roleBox);
  RadioButton4->setObjectName(QStringLiteral("RadioButton4"));
  auto* roleLayout = new QHBoxLayout(roleBox);
  roleLayout->addWidget(RadioButton3);
  roleLayout->addWidget(RadioButton4);

  ComboBox2 = NumberCombo(QStringLiteral("ComboBox2"), 0, 7, this);
  ComboBox1 = NumberCombo(QStringLiteral("ComboBox1"), 1, 15, this);
  Edit2 = new QLineEdit(QStringLiteral("255"), this);
  Edit2->setObjectName(QStringLiteral("Edit2"));

  auto* fields = new QFormLayout;
  fields->addRow(QStringLiteral("信道选择"), ComboBox2);
  fields->addRow(QStringLiteral("基站编号"), ComboBox1);
  fields->addRow(QStringLiteral("从机地址"), Edit2);

  BitBtn1 = new QPushButton(QStringLiteral("确定"), this);
  BitBtn1->setObjectName(QStringLiteral("BitBtn1"));

  auto* helpBox = new QGroupBox(QStringLiteral("说明"), this);
  auto* help = new QLabel(QStringLiteral("★首先选择基站类型，语音基站的从机地址范围为1到254\n\n"
                                         "★选择语音基站时，注意kp上的点菜机号数量不能大于60个"),
                          helpBox);
  help->setWordWrap(true);
  help->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  (new QVBoxLayout(helpBox))->addWidget(help);

  Timer5 = new QTimer(this);
  Timer5->setObjectName(QStringLiteral("Timer5"));
  Timer5->setInterval(StationConfig::kTimer5Ms);

  RadioButton1->setChecked(true);
  RadioButton3->setChecked(true);
  RadioButton3->setEnabled(false);
  RadioButton4->setEnabled(false);
  Edit2->setEnabled(false);

  // clicked, not toggled: only the user's choice runs the handlers.
  connect(RadioButton1, &QRadioButton::clicked, this, &StationPage::RadioButton1Click);
  connect(RadioButton2, &QRadioButton::clicked, this, &StationPage::RadioButton2Click);
  connect(RadioButton3, &QRadioButton::clicked, this, &StationPage::RadioButton3Click);
  connect(RadioButton4, &QRadioButton::clicked, this, &StationPage::RadioButton4Click);
  connect(BitBtn1, &QPushButton::clicked, this, &StationPage::BitBtn1Click);
  connect(Timer5, &QTimer::timeout, this, [this] { config_.Timer5Timer(); });

  // Two rows of choices and the help box must fit the fixed window without squeezing.
  auto* choices = new QHBoxLayout;
  choices->addWidget(typeBox);
  choices->addWidget(roleBox);
  auto* entry = new QHBoxLayout;
  entry->addLayout(fields, 1);
  entry->addWidget(BitBtn1, 0, Qt::AlignBottom);
  auto* right = new QVBoxLayout;
  right->addLayout(choices);
  right->addLayout(entry);
  right->addWidget(helpBox, 1);
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(banner);
  layout->addLayout(right, 1);
}

void StationPage::RadioButton1Click() {
  RadioButton3->setEnabled(false);
  RadioButton4->setEnabled(false);
  Edit2->setEnabled(false);
  ComboBox1->setEnabled(true);
}

void StationPage::RadioButton2Click() {
  RadioButton3->setEnabled(true);
  RadioButton4->setEnabled(true);
  ComboBox1->setEnabled(false);
  if (RadioButton3->isChecked()) {
    RadioButton3Click();
  } else {
    Edit2->setEnabled(true);
  }
}

void StationPage::RadioButton3Click() {
  Edit2->setText(QStringLiteral("255"));
  Edit2->setEnabled(false);
}

void StationPage::RadioButton4Click() {
  Edit2->setText(QStringLiteral("1"));
  Edit2->setEnabled(true);
}

void StationPage::BitBtn1Click() {
  config_.BitBtn1Click({RadioButton2->isChecked(), RadioButton3->isChecked(),
                        ComboBox2->currentText().toStdString(),
                        ComboBox1->currentText().toStdString(), Edit2->text().toStdString()});
}

void StationPage::ShowTransfer(bool transferring) {
  BitBtn1->setText(transferring ? QStringLiteral("传输") : QStringLiteral("确定"));
}

void StationPage::SetBitBtn1Enabled(bool enabled) { BitBtn1->setEnabled(enabled); }

void StationPage::SetTimer5(bool enabled) {
  if (enabled) {
    Timer5->start();
  } else {
    Timer5->stop();
  }
}

}  // namespace orderlink
