// The application in this process, driven through its window like a user: a menu
// download to three handsets, the link test and the base-station dialogue, each
// against a base station on a pty (played by the test, or the simulator).

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTest>
#include <QTreeWidget>
#include <cstdio>
#include <map>

#include "app/Application.h"
#include "common/TextFile.h"
#include "download/DownloadPage.h"
#include "e2e/E2eSupport.h"
#include "support/FakeSerialPort.h"

namespace orderlink::e2e {
namespace {

std::vector<std::string> Hexes(const std::vector<std::string>& frames) {
  std::vector<std::string> out;
  for (const auto& frame : frames) out.push_back(test::ToHex(frame));
  return out;
}

std::vector<std::string> Hexes(const std::vector<SeenFrame>& frames) {
  std::vector<std::string> out;
  for (const auto& seen : frames) out.push_back(test::ToHex(seen.frame.raw));
  return out;
}

// ------------------------------------------------------------------- download

// The frames of one download record: table tag, record number, count and
// position in every packet, the data (wire form) in pieces of at most 41 bytes.
std::vector<std::string> RecordFrames(std::uint8_t address, int number, const std::string& wire) {
  char digits[6];
  std::snprintf(digits, sizeof digits, "%05d", number);
  const std::string data = wire.substr(12);
  const auto pieces = Pieces(data, 41, false);
  std::vector<std::string> frames;
  std::size_t pos = 0;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const std::string body = digits + wire.substr(0, 8) + data.substr(pos, pieces[i]);
    // L = piece + 20: the record head counts with the body.
    frames.push_back(LongFrame(0xC0, address, static_cast<std::uint8_t>(i + 1),
                               i + 1 < pieces.size(), wire.substr(8, 4), body));
    pos += pieces[i];
  }
  return frames;
}

TEST(E2eWindow, DownloadToThreeHandsetsResendsWhatOneOfThemMissed) {
  test::TempAppDir dir;
  dir.WriteGbk("基站.txt", "1 COM1\r\n");
  dir.WriteGbk("点菜机.txt", "001 1\r\n002 1\r\n003 1\r\n");
  dir.WriteGbk("酒店名称.txt", "测试酒店\r\n");
  const std::vector<std::string> categories = {"01凉菜      ", "02热菜      ", "03汤类      "};
  dir.WriteGbk("菜品类别表.txt",
               categories[0] + "\r\n" + categories[1] + "\r\n" + categories[2] + "\r\n");
  // A dish whose price "二十八" begins at byte 41 of the record as it travels: the
  // first packet carries 40 bytes, not 41.
  const std::string dish = std::string("01001") + "  " + G("宫保鸡丁") + std::string(12, ' ') +
                           std::string(9, ' ') + "  " + G("二十八") + " " + G("辣") +
                           std::string(43, ' ') + "1" + std::string(9, ' ');
  ASSERT_EQ(dish.size(), 100u);
  ASSERT_TRUE(WriteFileBytes(dir.Txt("菜品表.txt"), dish + "\r\n"));

  // The job lines as they travel: count, position, tag, data (the dish with a blank
  // between its fields).
  using S = std::string;
  std::vector<std::string> wire = {S("0001") + "0001" + "JDMC" + G("测试酒店") + S(12, ' ')};
  for (int i = 0; i < 3; ++i) {
    wire.push_back(S("0003") + "000" + std::to_string(i + 1) + "CLB " + G(categories[i]));
  }
  const std::string dishLine = S("0001") + "0001" + "CPB " + dish;
  wire.push_back(dishLine.substr(0, 17) + " " + dishLine.substr(17, 31) + " " +
                 dishLine.substr(48, 9) + " " + dishLine.substr(57, 45) + " " +
                 dishLine.substr(102, 10));
  ASSERT_EQ(Pieces(wire[4].substr(12), 41, false), (std::vector<std::size_t>{40, 41, 23}));

  // Handsets 1 and 3 get everything; handset 2 misses records 2 and 5 until they
  // are sent again.
  std::atomic<bool> resent{false};
  FakeStation station([&](const PcFrame& frame) -> std::string {
    if (frame.code == "CCJS" && frame.address == 2) resent = true;
    if (frame.code != "XZDM") return {};
    if (frame.address == 2 && !resent) {
      return HandsetMessage(0xC2, 2, "XZCC", std::string("00001\x01") + "00004\x01");
    }
    return HandsetMessage(0xC2, frame.address, "XZWC", "");
  });
  ScopedEnv env({{"ORDERLINK_APPDIR", dir.Path()}, {"ORDERLINK_COM1", station.SlavePath()}});
  StderrCapture messages;

  std::string progress;
  RunApplication({"DEBUG"}, [&](Application&) {
    auto* page = Find<DownloadPage>("DownloadPage");
    ASSERT_NE(page, nullptr);
    ASSERT_TRUE(station.WaitFor(0, IsPoll, 20000));
    // Tick the three handsets and only the three tables.
    for (int i = 0; i < 3; ++i) page->downloadHandsetTree->setCurrentItem(page->rootNode->child(i));
    ASSERT_EQ(page->handsetCounter->text(), "3");
    for (int i = 0; i < kDownloadTableCount; ++i) page->TableBox(i)->setChecked(false);
    for (const char* name : {"restaurantNameBox", "dishCategoriesBox", "dishesBox"}) {
      Find<QCheckBox>(name)->setChecked(true);
    }
    page->startStopButton->click();
    ASSERT_TRUE(WaitUntil([&] { return page->startStopButton->text() == "正在下载"; }, 10000));
    EXPECT_TRUE(WaitUntil([&] { return page->startStopButton->text() == "开始下载"; }, 90000));
    // The progress cell follows a moment later (its updates are queued).
    WaitUntil([&] { return page->progressCell->Text() == "下载完毕！"; }, 5000);
    progress = page->progressCell->Text().toStdString();
    // Polling resumes after the download.
    EXPECT_TRUE(station.WaitFor(station.Count(), IsPoll, 20000));
  });
  EXPECT_EQ(progress, "下载完毕！");
  EXPECT_NE(messages.Text().find("message: 下载完毕！\n"), std::string::npos) << messages.Text();
  EXPECT_EQ(dir.Read("join.txt").value_or("").size(), 20 + 3 * 12 + 100 + 5 * 14u);

  // Everything from the first "QBKS" to the last "QBJS".
  const auto all = station.Frames();
  std::size_t first = all.size(), last = 0;
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (all[i].frame.code == "QBKS" && first == all.size()) first = i;
    if (all[i].frame.code == "QBJS") last = i;
  }
  ASSERT_LT(first, last) << "no download seen";
  const std::vector<SeenFrame> download(all.begin() + first, all.begin() + last + 1);
  for (const auto& seen : download) {
    EXPECT_FALSE(IsPoll(seen.frame)) << "a poll inside the download";
  }

  // Broadcast: "QBKS" ten times (5 records, 3 tables), then every record to all.
  std::vector<std::string> broadcast(
      10, LongFrame(0xC0, 0, 1, false, "QBKS", "00005" + S("03") + "JDMC" + "CLB " + "CPB "));
  for (int r = 1; r <= 5; ++r) {
    for (auto& frame : RecordFrames(0, r, wire[r - 1])) broadcast.push_back(frame);
  }
  ASSERT_GT(download.size(), broadcast.size());
  const std::vector<SeenFrame> sent(download.begin(), download.begin() + broadcast.size());
  EXPECT_EQ(Hexes(sent), Hexes(broadcast));
  EXPECT_GE(download[10].at - download[9].at, std::chrono::milliseconds(2900))
      << "the handsets get 3 s after the opening frames";
  for (std::size_t i = 11; i < sent.size(); ++i) {
    EXPECT_GE(sent[i].at - sent[i - 1].at, std::chrono::milliseconds(120)) << "record frame " << i;
  }

  // Status phase: each handset asked; the missing records go to handset 2 alone,
  // between "CCKS" and "CCJS", and it is asked again; then "QBJS" ten times.
  std::map<int, std::vector<std::string>> perHandset;
  std::vector<std::string> closing;
  for (std::size_t i = broadcast.size(); i < download.size(); ++i) {
    const PcFrame& frame = download[i].frame;
    if (frame.address == 0) {
      closing.push_back(test::ToHex(frame.raw));
    } else {
      perHandset[frame.address].push_back(test::ToHex(frame.raw));
    }
  }
  const auto query = [](std::uint8_t h) {
    return test::ToHex(LongFrame(0xC0, h, 1, false, "XZDM", ""));
  };
  EXPECT_EQ(perHandset[1], std::vector<std::string>{query(1)});
  EXPECT_EQ(perHandset[3], std::vector<std::string>{query(3)});
  std::vector<std::string> second = {query(2),
                                     test::ToHex(LongFrame(0xC0, 2, 1, false, "CCKS", ""))};
  for (int r : {2, 5}) {
    for (auto& frame : RecordFrames(2, r, wire[r - 1])) second.push_back(test::ToHex(frame));
  }
  second.push_back(test::ToHex(LongFrame(0xC0, 2, 1, false, "CCJS", "")));
  second.push_back(query(2));
  EXPECT_EQ(perHandset[2], second);
  EXPECT_EQ(closing,
            std::vector<std::string>(10, test::ToHex(LongFrame(0xC0, 0, 1, false, "QBJS", ""))));
  // Nothing else comes between "CCKS" and "CCJS".
  std::size_t open = 0;
  for (std::size_t i = 0; i < download.size(); ++i) {
    if (download[i].frame.code == "CCKS") open = i;
    if (download[i].frame.code == "CCJS") {
      EXPECT_EQ(i - open, 1 + 1 + 3u);  // record 2 in one packet, record 5 in three
    }
  }
}

// ------------------------------------------------------------------ link test

// "##.##%": at most two decimals, no trailing zeros, no leading zero.
std::string ReceiveRate(double percent) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", percent);
  std::string number = text;
  while (number.back() == '0') number.pop_back();
  if (number.back() == '.') number.pop_back();
  if (number == "0") number.clear();
  if (number.rfind("0.", 0) == 0) number.erase(0, 1);
  return number + "%";
}

TEST(E2eWindow, LinkTestBooksGoodCorruptedAndMissingAnswers) {
  test::TempAppDir dir;
  dir.WriteGbk("基站.txt", "1 COM1\r\n");
  dir.WriteGbk("点菜机.txt", "001 1\r\n002 1\r\n003 1\r\n");
  const std::string pattern(53, 'Z');
  // Frame 1 answered well, 2 corrupted, 3 not at all, 4 by another handset, then well.
  enum Outcome { kGood, kBad, kNone };
  const auto outcome = [](int k) { return k == 2 ? kBad : k == 3 ? kNone : kGood; };
  std::atomic<int> tests{0};
  FakeStation station([&](const PcFrame& frame) -> std::string {
    if (frame.code != "TXCS") return {};
    const int k = ++tests;
    std::string echo = pattern;
    if (outcome(k) == kNone) return {};
    if (outcome(k) == kBad) echo[17] = 'Y';
    const std::uint8_t from = k == 4 ? 3 : frame.address;
    return HandsetMessage(0xC4, from, "TXCS", echo);
  });
  ScopedEnv env({{"ORDERLINK_APPDIR", dir.Path()}, {"ORDERLINK_COM1", station.SlavePath()}});
  StderrCapture messages;
  const auto isTest = [](const PcFrame& f) { return f.code == "TXCS"; };

  std::vector<std::vector<std::string>> grid;
  bool resumed = false;
  RunApplication({"DEBUG"}, [&](Application&) {
    auto* tree = Find<QTreeWidget>("handsetTree");
    auto* start = Find<QPushButton>("startButton");
    auto* wait = Find<QLineEdit>("waitEdit");
    auto* table = Find<QTableView>("statisticsGrid");
    ASSERT_TRUE(tree && start && wait && table);
    ASSERT_TRUE(station.WaitFor(0, IsPoll, 20000));
    tree->setCurrentItem(tree->topLevelItem(0)->child(1));  // handset 002
    wait->setText("600");
    start->click();
    EXPECT_EQ(start->text(), "停止测试");
    EXPECT_TRUE(WaitUntil([&] { return tests >= 6; }, 30000));
    start->click();
    EXPECT_EQ(start->text(), "开始测试");
    QTest::qWait(300);  // the last test frame reaches the station
    std::size_t last = 0;
    const auto frames = station.Frames();
    for (std::size_t i = 0; i < frames.size(); ++i) {
      if (isTest(frames[i].frame)) last = i;
    }
    resumed = station.WaitFor(last + 1, IsPoll, 20000).has_value();
    for (int r = 0; r < table->model()->rowCount(); ++r) {
      grid.emplace_back();
      for (int c = 0; c < 8; ++c) {
        grid.back().push_back(table->model()->index(r, c).data().toString().toStdString());
      }
    }
  });
  EXPECT_TRUE(resumed) << "polling did not resume after the test";
  ASSERT_EQ(grid.size(), 3u);
  EXPECT_EQ(grid[0], (std::vector<std::string>{"001", "0", "0", "0", "0", "0", "0", "0"}));
  EXPECT_EQ(grid[2], (std::vector<std::string>{"003", "0", "0", "0", "0", "0", "0", "0"}));

  // Every test frame is the fixed one; the poller kept quiet while the test ran.
  int sent = 0;
  bool polled = false;
  for (const auto& seen : station.Frames()) {
    const PcFrame& frame = seen.frame;
    if (isTest(frame)) {
      ++sent;
      EXPECT_FALSE(polled) << "poll during the link test";
      EXPECT_EQ(test::ToHex(frame.raw), test::ToHex(LongFrame(0xC0, 2, 1, false, "TXCS", pattern)));
    } else if (sent > 0) {
      EXPECT_TRUE(IsPoll(frame)) << Describe(frame);
      polled = true;
    }
  }
  // The last frame sent is never booked.
  const int booked = std::stoi(grid[1][1]);
  ASSERT_GE(booked, 4);
  EXPECT_EQ(sent, booked + 1);
  int bad = 0, none = 0;
  for (int k = 1; k <= booked; ++k) {
    bad += outcome(k) == kBad;
    none += outcome(k) == kNone;
  }
  const std::string n = std::to_string(booked);
  EXPECT_EQ(grid[1], (std::vector<std::string>{"002", n, "0", "00.00%", n, std::to_string(bad),
                                               std::to_string(none),
                                               ReceiveRate(100.0 * (bad + none) / booked)}));
  EXPECT_EQ(messages.Text().find("message:"), std::string::npos) << messages.Text();
}

// ------------------------------------------------------- base-station dialogue

struct StationRun {
  std::vector<std::string> output;  // the simulator's standard output after the PTY line
  int status = -1;
};

// The simulated base station on its pty, the application on the pty's other end,
// `script` clicking through the station page.
StationRun WithSimulatedStation(const std::vector<std::string>& options,
                                const std::function<void()>& script) {
  test::TempAppDir dir;
  dir.WriteGbk("基站.txt", "1 COM1\r\n");
  dir.WriteGbk("点菜机.txt", "001 1\r\n002 1\r\n003 1\r\n");
  std::vector<std::string> argv = {
      Bin("orderlink-basesim"), "--pty", "--handsets", "1-3", "--requests", "0", "--seconds", "60"};
  argv.insert(argv.end(), options.begin(), options.end());
  test::ChildProcess simulator(argv, {});
  const std::string device = Announced(simulator, "PTY ");
  if (device.empty()) {
    ADD_FAILURE() << "no pty from the simulator: " << simulator.Stderr();
    return {};
  }
  {
    ScopedEnv env({{"ORDERLINK_APPDIR", dir.Path()}, {"ORDERLINK_COM1", device}});
    RunApplication({"DEBUG"}, [&](Application&) { script(); });
  }
  StationRun run;
  run.output = RestOfOutput(simulator, 30000);
  run.status = simulator.Wait(20000).value_or(-1);
  if (run.status != 0) ADD_FAILURE() << simulator.Stderr();
  return run;
}

// Clicks "确定" and waits until the dialogue is over; the caption read "传输" meanwhile.
void Transfer(StderrCapture& messages, const std::string& expected) {
  auto* button = Find<QPushButton>("configureButton");
  ASSERT_NE(button, nullptr);
  button->click();
  // The request goes out after a 10 ms settling pause, a delayed step of the window.
  EXPECT_TRUE(WaitUntil([&] { return button->text() == "传输"; }, 5000));
  EXPECT_FALSE(button->isEnabled());
  EXPECT_TRUE(WaitUntil([&] { return messages.Text().find(expected) != std::string::npos; }, 20000))
      << messages.Text();
  EXPECT_TRUE(WaitUntil([&] { return button->isEnabled(); }, 5000));
  EXPECT_EQ(button->text(), "确定");
}

TEST(E2eWindow, StationDialogueWritesDataAndVoiceSettings) {
  StderrCapture messages;
  const StationRun run = WithSimulatedStation({"--config-switch"}, [&] {
    Find<QComboBox>("channelCombo")->setCurrentText("3");
    Find<QComboBox>("stationNumberCombo")->setCurrentText("12");
    Transfer(messages, "message: 数据基站:信道3 编号12 已设置成功\n");

    Find<QRadioButton>("voiceStationRadio")->click();  // voice station
    Find<QRadioButton>("slaveStationRadio")->click();  // slave
    auto* address = Find<QLineEdit>("slaveAddressEdit");
    EXPECT_EQ(address->text(), "1");
    address->setText("5");
    Find<QComboBox>("channelCombo")->setCurrentText("2");
    Transfer(messages, "message: 语音从基站:信道2 地址5 已设置成功\n");
  });
  EXPECT_EQ(LineStarting(run.output, "settings: kind=data"),
            "settings: kind=data channel=3 station=12 bytes=03 50 86 CC");
  EXPECT_EQ(LineStarting(run.output, "settings: kind=voice"),
            "settings: kind=voice role=slave channel=2 address=5 handsets=001,002,003 "
            "bytes=08 A0 B5 05 FF 03 01 02 03");
  EXPECT_EQ(LineStarting(run.output, "config:"), "config: requests=2 acks=2 settings=2");
  EXPECT_EQ(LineStarting(run.output, "end:"), "end: reason=hang-up");
}

TEST(E2eWindow, StationDialogueWithoutAcknowledgementFailsAndPollingResumes) {
  test::TempAppDir dir;
  dir.WriteGbk("基站.txt", "1 COM1\r\n");
  dir.WriteGbk("点菜机.txt", "001 1\r\n002 1\r\n003 1\r\n");
  FakeStation station;  // its configuration switch is not set: it never answers
  ScopedEnv env({{"ORDERLINK_APPDIR", dir.Path()}, {"ORDERLINK_COM1", station.SlavePath()}});
  StderrCapture messages;
  RunApplication({"DEBUG"}, [&](Application&) {
    ASSERT_TRUE(station.WaitFor(0, IsPoll, 20000));
    Transfer(messages, "message: 设置失败!请检查基站拨码开关是否正确\n");
    EXPECT_TRUE(station.WaitFor(station.Count(), IsPoll, 20000));
  });
  const auto frames = station.Frames();
  std::size_t request = frames.size();
  for (std::size_t i = 0; i < frames.size(); ++i) {
    if (frames[i].frame.kind == PcFrame::Kind::ConfigRequest) {
      EXPECT_EQ(request, frames.size()) << "a second configuration request";
      request = i;
    } else {
      EXPECT_TRUE(IsPoll(frames[i].frame)) << Describe(frames[i].frame);
    }
  }
  ASSERT_LT(request + 1, frames.size());
  // Ten ticks of 100 ms go by without a poll before the failure is reported.
  EXPECT_GE(frames[request + 1].at - frames[request].at, std::chrono::milliseconds(900));
}

}  // namespace
}  // namespace orderlink::e2e
