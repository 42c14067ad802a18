#include <gtest/gtest.h>

#include <QTest>
#include <thread>

#include "download/DownloadFakes.h"
#include "download/DownloadPage.h"
#include "support/FakeSerialPort.h"
#include "support/ManualTimers.h"

namespace orderlink::test {
namespace {

class DownloadPageTest : public ::testing::Test {
 protected:
  DownloadPageTest() {
    page.SetController(&controller);
    for (const char* text : {"001", "002", "003", "004", "005"}) page.AddHandset(text);
  }
  QTreeWidgetItem* Handset(int index) { return page.rootNode->child(index); }
  void Select(QTreeWidgetItem* node) { page.downloadHandsetTree->setCurrentItem(node); }
  std::vector<int> States() {
    std::vector<int> states;
    for (int i = 0; i < 5; ++i) states.push_back(DownloadPage::NodeState(Handset(i)));
    return states;
  }

  VirtualClock clock;
  ManualTimers timers{clock};
  RecordingHostLink host;
  RecordingMessages messages;
  TempAppDir app;
  LineActivity line;
  DownloadPage page{nullptr, line};
  DownloadController controller{
      TxtDir(app.Path()), timers, host, messages, page, nullptr, nullptr, line};
};

TEST_F(DownloadPageTest, SelectingANodeTogglesItsTickAndTheCounter) {
  page.HandsetsComplete();
  for (int i = 0; i < 3; ++i) Select(Handset(i));
  EXPECT_EQ(page.handsetCounter->text(), "3");
  Select(Handset(0));  // no longer the selected node: selecting it again clears its tick
  EXPECT_EQ(page.handsetCounter->text(), "2");
  Select(page.rootNode);  // the root is never counted and shows no picture
  EXPECT_EQ(page.handsetCounter->text(), "2");
  EXPECT_EQ(DownloadPage::NodeState(page.rootNode), DownloadPage::kNoState);
  EXPECT_EQ(States(), (std::vector<int>{1, 2, 2, 1, 1}));
  EXPECT_EQ(page.TickedHandsets(), (std::vector<int>{2, 3}));
}

TEST_F(DownloadPageTest, SelectAllTicksAndClearsEveryHandset) {
  page.selectAllBox->click();  // the tree is not shown yet: nothing is counted
  EXPECT_EQ(page.handsetCounter->text(), "0");
  page.selectAllBox->click();
  page.HandsetsComplete();
  page.selectAllBox->click();
  EXPECT_EQ(page.handsetCounter->text(), "5");
  EXPECT_EQ(States(), std::vector<int>(5, DownloadPage::kSelected));
  page.selectAllBox->click();
  EXPECT_EQ(page.handsetCounter->text(), "0");
  EXPECT_EQ(States(), std::vector<int>(5, DownloadPage::kNotSelected));
}

TEST_F(DownloadPageTest, StartButtonChecksTablesThenHandsetsThenAsksTheHost) {
  page.HandsetsComplete();
  for (int i = 0; i < kDownloadTableCount; ++i) page.TableBox(i)->setChecked(false);
  page.startStopButton->click();
  page.recommendedDishesBox->setChecked(true);
  page.startStopButton->click();
  EXPECT_EQ(messages.Messages(), (std::vector<std::string>{"请先选择文件！", "请选择点菜机！"}));
  Select(Handset(1));
  page.startStopButton->click();
  EXPECT_EQ(host.codes, std::vector<int>{NotifyDownload});
  EXPECT_FALSE(page.downloadHandsetTree->isEnabled() || page.selectAllBox->isEnabled() ||
               page.TableBox(0)->isEnabled());
  EXPECT_EQ(controller.TargetHandsets(), std::vector<int>{2});
}

// Noise on the line in the status phase: a discarded packet every 50 ms must not
// keep restarting the 200 ms interval of statusTimer, or no handset is ever asked.
TEST_F(DownloadPageTest, StatusPhaseEndsDespiteADiscardedPacketEvery50Ms) {
  VirtualClock lineClock;  // the jobs' pauses pass at once; the window's timers are real
  FakeSerialPort port{&lineClock};
  SendThread send{&port, lineClock};
  DownloadController live{
      TxtDir(app.Path()), page.Timers(), host, messages, page, &send, nullptr, line};
  page.SetController(&live);
  app.WriteLines("菜品类别表.txt", FixedLines(1, 12));
  for (int i = 0; i < kDownloadTableCount; ++i) {
    page.TableBox(i)->setChecked(std::string_view(kDownloadTables[i].tag) == "CLB ");
  }
  page.HandsetsComplete();
  Select(Handset(2));
  send.Start();
  page.startStopButton->click();
  live.OnDownloadGoAhead();  // the ordering software's go-ahead

  std::atomic<bool> quiet{false};
  std::thread noise([&] {  // the receive thread's discarded packets
    while (!quiet.load()) {
      live.OnDiscardedPacket();
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });
  const bool finished = QTest::qWaitFor(
      [&] { return !messages.Messages().empty() && page.startStopButton->text() == "开始下载"; },
      30000);
  quiet = true;
  noise.join();
  EXPECT_TRUE(finished);
  EXPECT_TRUE(WaitIdle(send));
  send.TerminateAndJoin();
  QCoreApplication::processEvents();  // the queued progress text

  std::map<std::string, int> sent;
  for (const auto& w : port.Writes()) ++sent[w.bytes.substr(9, 4)];
  EXPECT_EQ(sent["XZDM"], 10);  // the silent handset is asked in every pass
  EXPECT_EQ(sent["QBJS"], 10);
  // The silent handset is named at the end, in the cell, the message and the tree.
  constexpr char kEnding[] = "下载完毕！点菜机003没有应答，请检查后重新下载。";
  EXPECT_EQ(messages.Messages(), std::vector<std::string>{kEnding});
  EXPECT_EQ(page.progressCell->Text(), kEnding);
  EXPECT_EQ(Handset(2)->text(DownloadPage::kOutcomeColumn), "没有应答");
}

}  // namespace
}  // namespace orderlink::test
