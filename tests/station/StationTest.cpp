#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "link/HandsetPoller.h"
#include "link/LinkHandlers.h"
#include "link/ReceiveThread.h"
#include "link/SendThread.h"
#include "station/StationConfig.h"
#include "station/StationRecords.h"
#include "support/FakeSerialPort.h"
#include "support/ManualTimers.h"

namespace orderlink {
namespace {

using test::Hex;
using test::ToHex;
using Events = std::vector<std::string>;

// One log for the view and the message boxes, so the order of steps shows.
struct Log : MessageSink, StationView {
  void ShowMessage(const std::string& text) override { events.push_back(text); }
  void ShowTransfer(bool t) override { events.push_back(t ? "传输" : "确定"); }
  void SetConfigureButtonEnabled(bool e) override {
    events.push_back(e ? "button on" : "button off");
  }
  void SetDialogueTimer(bool e) override { events.push_back(e ? "timer on" : "timer off"); }
  Events events;
};

const std::string kAck = Hex("FF AA 55 32 CD");
const StationInput kData{false, true, "3", "12", "255"};

class StationFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    handlers.testAnswer = [this](const Message&) { ++parsed; };
    for (const char* h : {"001", "002", "003"}) handsets.AddHandset(h);
  }

  // The click and its settling pause, after which the request is on the line.
  void Click(StationConfig& c, const StationInput& input) {
    c.StartConfiguration(input);
    timers.RunFor(10);
  }
  void Receive(const std::string& bytes) {
    rcv.StoreChunk(bytes);
    rcv.HandleChunks();
  }
  int TickToEnd(StationConfig& c) {
    int ticks = 0;
    for (; c.Transferring() && ticks < 100; ++ticks) c.DialogueTick();
    timers.RunAll();
    return ticks;
  }
  // The dialogue with an acknowledgement before the first tick; returns what
  // followed the configuration request on the line.
  std::string Run(StationConfig& c, const StationInput& input) {
    port.ClearWrites();
    log.events.clear();
    Click(c, input);
    Receive(kAck);
    c.DialogueTick();
    timers.RunAll();
    const std::string written = port.Written();
    EXPECT_EQ(ToHex(written.substr(0, 5)), "FF 23 DC 55 AA");
    return ToHex(written.substr(5));
  }

  VirtualClock clock;
  test::ManualTimers timers{clock};
  test::FakeSerialPort port{&clock};
  LineActivity line;
  LinkHandlers handlers{line};
  int parsed = 0;
  SendThread send{&port, clock};
  ReceiveThread rcv{nullptr, handlers, line, clock};
  HandsetPoller poller{send, rcv};
  HandsetTree handsets;
  Log log;
  StationConfig config{timers, log, &send, &poller, handsets, log, line};
};

TEST(StationRecords, Layouts) {
  EXPECT_EQ(ToHex(DataStationRecord(0, 1)), "03 50 80 C1");
  EXPECT_EQ(ToHex(DataStationRecord(7, 15)), "03 50 8E CF");
  EXPECT_EQ(ToHex(VoiceStationRecord(true, 2, 0, {1, 2, 3})), "08 A0 B4 FF FF 03 01 02 03");
  EXPECT_EQ(ToHex(VoiceStationRecord(false, 2, 5, {1, 2, 3})), "08 A0 B5 05 FF 03 01 02 03");
  EXPECT_EQ(ToHex(VoiceStationRecord(false, 0, -1, {200})), "06 A0 B1 FF FF 01 C8");
}

// The pauses of 10 ms before the request and 500 ms after the record are delayed
// steps of the window: the click and the tick return at once.
TEST_F(StationFixture, AcknowledgementOnTheFifthTickSendsTheRecord) {
  const std::int64_t clickedAt = clock.NowMs();
  config.StartConfiguration(kData);
  EXPECT_EQ(clock.NowMs(), clickedAt);
  EXPECT_TRUE(line.stationBusy);
  EXPECT_EQ(poller.Pauses(), 1);
  EXPECT_EQ(port.Written(), "");
  timers.RunFor(9);
  EXPECT_FALSE(line.stationTransfer);
  timers.RunFor(1);
  EXPECT_TRUE(line.stationTransfer);
  EXPECT_EQ(ToHex(port.Written()), "FF 23 DC 55 AA");
  for (int i = 0; i < 4; ++i) config.DialogueTick();
  Receive(kAck + Hex("00 00 00"));  // bytes after the fifth do not matter
  EXPECT_EQ(parsed, 0);             // nothing reaches the frame parser
  config.DialogueTick();

  EXPECT_EQ(ToHex(port.Written().substr(5)), "03 50 86 CC");
  EXPECT_FALSE(line.stationTransfer);
  EXPECT_EQ(line.stationAck.load(), 0);
  EXPECT_EQ(config.StationTicks(), 0);
  timers.RunFor(499);
  EXPECT_EQ(poller.Pauses(), 1);
  EXPECT_TRUE(line.stationBusy);
  timers.RunFor(1);
  EXPECT_EQ(poller.Pauses(), 0);
  EXPECT_FALSE(line.stationBusy);
  EXPECT_EQ(log.events, (Events{"传输", "button off", "timer on", "timer off", "确定",
                                "数据基站:信道3 编号12 已设置成功", "button on"}));
  EXPECT_EQ(timers.Delays(), (std::vector<std::int64_t>{10, 500}));
  EXPECT_TRUE(clock.Sleeps().empty());
}

// A job that holds the line (a long reply) must not hold the window: the request
// and the record wait for the line on later steps instead.
TEST_F(StationFixture, BusyLineDelaysTheWritesWithoutBlockingTheWindow) {
  std::promise<void> locked;
  std::promise<void> release;
  std::thread job([&] {
    std::lock_guard lock(send.Mutex());
    locked.set_value();
    release.get_future().wait();
  });
  locked.get_future().wait();
  Click(config, kData);
  timers.RunFor(30);
  EXPECT_EQ(port.Written(), "");
  EXPECT_TRUE(line.stationTransfer);
  release.set_value();
  job.join();
  timers.RunFor(10);
  EXPECT_EQ(ToHex(port.Written()), "FF 23 DC 55 AA");

  Receive(kAck);
  std::promise<void> lockedAgain;
  std::promise<void> releaseAgain;
  std::thread secondJob([&] {
    std::lock_guard lock(send.Mutex());
    lockedAgain.set_value();
    releaseAgain.get_future().wait();
  });
  lockedAgain.get_future().wait();
  for (int i = 0; i < 12; ++i) config.DialogueTick();  // acknowledged: no timeout
  EXPECT_EQ(ToHex(port.Written()), "FF 23 DC 55 AA");
  releaseAgain.set_value();
  secondJob.join();
  config.DialogueTick();
  timers.RunAll();
  EXPECT_EQ(ToHex(port.Written().substr(5)), "03 50 86 CC");
  EXPECT_EQ(log.events.at(log.events.size() - 2), "数据基站:信道3 编号12 已设置成功");
  EXPECT_EQ(poller.Pauses(), 0);
}

TEST_F(StationFixture, VoiceStationRecordsTextsAndHandsetCounts) {
  EXPECT_EQ(Run(config, {true, true, "2", "1", "255"}), "08 A0 B4 FF FF 03 01 02 03");
  EXPECT_EQ(log.events.at(5), "语音主基站:信道2 已设置成功");
  // A voice station does not use the station number, so it is not checked.
  EXPECT_EQ(Run(config, {true, false, "2", "abc", "5"}), "08 A0 B5 05 FF 03 01 02 03");
  EXPECT_EQ(log.events.at(5), "语音从基站:信道2 地址5 已设置成功");
  EXPECT_EQ(Run(config, {true, false, "2", "1", "254"}), "08 A0 B5 FE FF 03 01 02 03");

  // 256 handsets are too many, not none.
  for (const int count : {0, 61, 256}) {
    HandsetTree tree;
    for (int i = 1; i <= count; ++i) tree.AddHandset(std::to_string(i));
    StationConfig voice{timers, log, &send, &poller, tree, log, line};
    EXPECT_EQ(Run(voice, {true, true, "1", "1", "255"}), "") << count;
    EXPECT_EQ(log.events, (Events{"传输", "button off", "timer on", "timer off", "确定",
                                  count == 0 ? "请添加点菜机号！"
                                             : "点菜机数量超过语音基站支持是最大数量60个！",
                                  "button on"}))
        << count;
    EXPECT_EQ(poller.Pauses(), 0);
  }
}

TEST_F(StationFixture, WithoutAcknowledgementTheTenthTickFails) {
  Click(config, kData);
  Receive(kAck);
  Receive(Hex("00 00 00 C0 02 08 FF 01 00 54 58 43 53 05"));  // cancels it; not parsed
  EXPECT_EQ(parsed, 0);
  EXPECT_EQ(TickToEnd(config), 10);
  EXPECT_EQ(ToHex(port.Written()), "FF 23 DC 55 AA");
  EXPECT_EQ(poller.Pauses(), 0);
  EXPECT_EQ(log.events.back(), "button on");
  EXPECT_EQ(log.events.at(log.events.size() - 2), "设置失败!请检查基站拨码开关是否正确");

  // An acknowledgement split over two chunks is not recognised.
  Click(config, kData);
  Receive(kAck.substr(0, 3));
  config.DialogueTick();
  Receive(kAck.substr(3));
  EXPECT_EQ(TickToEnd(config), 9);
  EXPECT_EQ(ToHex(port.Written()), "FF 23 DC 55 AA FF 23 DC 55 AA");
}

TEST_F(StationFixture, RefusalsSendNothing) {
  struct Case {
    StationInput input;
    std::atomic<bool>* activity;  // set for this case, or null
    const char* message;
  };
  const Case cases[] = {
      {kData, &line.downloadRunning, "正在下载数据，请先停止下载！"},
      // Between the download's start click and the ordering software's go-ahead.
      {kData, &line.downloadRequested, "正在下载数据，请先停止下载！"},
      {kData, &line.linkTestRunning, "正在进行软件测试，请稍后再试！"},
      {{false, true, "x", "1", ""}, nullptr, "信道必须是0到7之间的整数！"},
      {{true, true, "8", "1", ""}, nullptr, "信道必须是0到7之间的整数！"},
      {{false, true, "0", "16", ""}, nullptr, "基站编号必须是1到15之间的整数！"},
      {{false, true, "0", "", ""}, nullptr, "基站编号必须是1到15之间的整数！"},
      // Only 1 to 254 is a slave's byte: 300 would go out as 2C, -1 as the master's FF.
      {{true, false, "0", "1", "1a"}, nullptr, "从机地址必须是1到254之间的整数！"},
      {{true, false, "0", "1", "300"}, nullptr, "从机地址必须是1到254之间的整数！"},
      {{true, false, "0", "1", "-1"}, nullptr, "从机地址必须是1到254之间的整数！"},
      {{true, false, "0", "1", "0"}, nullptr, "从机地址必须是1到254之间的整数！"},
      {{true, false, "0", "1", "255"}, nullptr, "从机地址必须是1到254之间的整数！"},
  };
  for (const auto& c : cases) {
    if (c.activity != nullptr) *c.activity = true;
    log.events.clear();
    config.StartConfiguration(c.input);
    timers.RunAll();
    config.DialogueTick();  // a stray tick does nothing
    EXPECT_EQ(log.events, Events{c.message});
    EXPECT_EQ(port.Written(), "") << c.message;
    EXPECT_EQ(poller.Pauses(), 0) << c.message;
    EXPECT_FALSE(line.stationTransfer || line.stationBusy) << c.message;
    if (c.activity != nullptr) *c.activity = false;
  }
}

TEST_F(StationFixture, TicksUseTheValuesCheckedAtTheClick) {
  StationInput input = kData;
  Click(config, input);
  input.channel = "x";  // edited while the dialogue waits: not read again
  Receive(kAck);
  config.DialogueTick();
  EXPECT_EQ(ToHex(port.Written().substr(5)), "03 50 86 CC");
}

// A line lost at any moment before the record is out ends the dialogue with that
// reason, not with the station's DIP-switch text; without a line none starts.
TEST_F(StationFixture, LostLineEndsTheDialogueAndSaysSo) {
  const std::string lost = "串口已断开，基站设置没有完成，请检查串口连接后重试。";
  // Waiting for the acknowledgement.
  Click(config, kData);
  config.DialogueTick();
  log.events.clear();
  config.LineLost();
  EXPECT_EQ(log.events, (Events{"timer off", "确定", lost, "button on"}));
  EXPECT_FALSE(line.stationTransfer || line.stationBusy || config.Busy());
  EXPECT_EQ(poller.Pauses(), 0);

  // Within the settling pause: the request never goes out.
  port.ClearWrites();
  config.StartConfiguration(kData);
  config.LineLost();
  timers.RunAll();
  EXPECT_EQ(port.Written(), "");
  EXPECT_FALSE(config.Transferring() || config.Busy());
  EXPECT_EQ(log.events.at(log.events.size() - 2), lost);

  // After the record, within the pause before polls resume: the settings are made.
  port.ClearWrites();
  Click(config, kData);
  Receive(kAck);
  config.DialogueTick();
  config.LineLost();
  timers.RunAll();
  EXPECT_EQ(ToHex(port.Written()), "FF 23 DC 55 AA 03 50 86 CC");
  EXPECT_EQ(log.events.at(log.events.size() - 2), "数据基站:信道3 编号12 已设置成功");

  port.Close();
  log.events.clear();
  config.StartConfiguration(kData);
  timers.RunAll();
  EXPECT_EQ(log.events, Events{lost});
  EXPECT_EQ(poller.Pauses(), 0);
}

}  // namespace
}  // namespace orderlink
