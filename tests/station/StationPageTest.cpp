#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include "link/SendThread.h"
#include "station/StationPage.h"
#include "support/FakeSerialPort.h"
#include "support/RecordingMessages.h"

namespace orderlink {
namespace {

TEST(StationPage, TypeSelectionAndTransferCaption) {
  test::RecordingMessages messages;
  HandsetTree handsets;
  LineActivity line;
  StationPage page{messages, nullptr, nullptr, handsets, line};
  auto radio = [&](const char* name) { return page.findChild<QRadioButton*>(name); };
  auto* station = page.findChild<QComboBox*>("stationNumberCombo");
  auto* address = page.findChild<QLineEdit*>("slaveAddressEdit");
  EXPECT_TRUE(radio("dataStationRadio")->isChecked() && radio("masterStationRadio")->isChecked());
  EXPECT_FALSE(radio("masterStationRadio")->isEnabled() || address->isEnabled());
  EXPECT_EQ(address->text(), "255");

  QTest::mouseClick(radio("voiceStationRadio"), Qt::LeftButton);  // voice
  EXPECT_TRUE(radio("masterStationRadio")->isEnabled() && radio("slaveStationRadio")->isEnabled());
  EXPECT_FALSE(station->isEnabled() || address->isEnabled());
  QTest::mouseClick(radio("slaveStationRadio"), Qt::LeftButton);  // slave
  EXPECT_EQ(address->text(), "1");
  EXPECT_TRUE(address->isEnabled());
  address->setText("7");
  QTest::mouseClick(radio("dataStationRadio"), Qt::LeftButton);  // data
  EXPECT_FALSE(radio("slaveStationRadio")->isEnabled() || address->isEnabled());
  EXPECT_TRUE(station->isEnabled());
  QTest::mouseClick(radio("voiceStationRadio"), Qt::LeftButton);  // voice again: still the slave
  EXPECT_TRUE(address->isEnabled());
  EXPECT_EQ(address->text(), "7");
  QTest::mouseClick(radio("masterStationRadio"), Qt::LeftButton);  // master
  EXPECT_EQ(address->text(), "255");
  EXPECT_FALSE(address->isEnabled());

  auto* button = page.findChild<QPushButton*>("configureButton");
  auto* timer = page.findChild<QTimer*>("dialogueTimer");
  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_TRUE(QTest::qWaitFor([&] { return button->text() == "传输"; }, 5000));
  EXPECT_FALSE(button->isEnabled());
  EXPECT_TRUE(line.stationTransfer);
  EXPECT_TRUE(timer->isActive());
  EXPECT_EQ(timer->interval(), 100);
  for (int i = 0; i < 10; ++i) page.Logic().DialogueTick();
  EXPECT_EQ(button->text(), "确定");
  EXPECT_TRUE(button->isEnabled());
  EXPECT_FALSE(timer->isActive());
  EXPECT_EQ(messages.Messages(), std::vector<std::string>{"设置失败!请检查基站拨码开关是否正确"});
}

// A slave address is refused unless the station can be given it as one byte, like
// the channel and the station number; a lost line is named as such.
TEST(StationPage, SlaveAddressRangeAndLostLine) {
  test::RecordingMessages messages;
  HandsetTree handsets;
  handsets.AddHandset("001");
  LineActivity line;
  test::FakeSerialPort port;
  SystemClock clock;
  SendThread send{&port, clock};
  StationPage page{messages, &send, nullptr, handsets, line};
  auto* address = page.findChild<QLineEdit*>("slaveAddressEdit");
  auto* button = page.findChild<QPushButton*>("configureButton");
  QTest::mouseClick(page.findChild<QRadioButton*>("voiceStationRadio"), Qt::LeftButton);
  QTest::mouseClick(page.findChild<QRadioButton*>("slaveStationRadio"), Qt::LeftButton);

  for (const char* text : {"300", "-1", "0", "255"}) {
    address->setText(text);
    QTest::mouseClick(button, Qt::LeftButton);
    QTest::qWait(30);
    EXPECT_EQ(button->text(), "确定") << text;
  }
  EXPECT_EQ(messages.Messages(), std::vector<std::string>(4, "从机地址必须是1到254之间的整数！"));
  EXPECT_EQ(port.Written(), "");

  messages.Clear();
  address->setText("254");
  QTest::mouseClick(button, Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return button->text() == "传输"; }, 5000));
  EXPECT_EQ(test::ToHex(port.Written()), "FF 23 DC 55 AA");
  port.Close();  // the adapter is pulled; the application reports the lost device
  page.Logic().LineLost();
  const std::string lost = "串口已断开，基站设置没有完成，请检查串口连接后重试。";
  EXPECT_EQ(messages.Messages(), std::vector<std::string>{lost});
  EXPECT_EQ(button->text(), "确定");
  EXPECT_TRUE(button->isEnabled());
  EXPECT_FALSE(page.findChild<QTimer*>("dialogueTimer")->isActive());
  QTest::mouseClick(button, Qt::LeftButton);  // no dialogue without a line
  EXPECT_EQ(messages.Messages(), std::vector<std::string>(2, lost));
}

}  // namespace
}  // namespace orderlink
