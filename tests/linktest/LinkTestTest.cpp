#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "link/HandsetPoller.h"
#include "link/LinkHandlers.h"
#include "link/ReceiveThread.h"
#include "link/SendThread.h"
#include "linktest/LinkTest.h"
#include "support/FakeSerialPort.h"
#include "support/RecordingMessages.h"

namespace orderlink {
namespace {

using test::Hex;
using Row = std::vector<std::string>;

struct View : LinkTestView {
  void ShowRunning(bool) override {}
  void SetTestTimer(bool enabled, int ms) override { interval = enabled ? ms : 0; }
  void GridChanged() override {}
  void TreeChanged() override {}
  int interval = 0;  // 0 while the test timer is off
};

const std::string kGood(kTestPattern);
const std::string kFrame12 = Hex("00 00 00 C0 02 3C 0C 01 00") + "TXCS" + std::string(53, 'Z');

class LinkTestFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* h : {"001", "002", "003"}) test.AddHandset(h);
    // "TXCS" answers parsed by the real receive state machine reach the test.
    handlers.testAnswer = [this](const Message& m) { test.EvaluateTestAnswer(m); };
  }
  // A "TXCS" answer from `handset`, as a chunk off the line.
  void Answer(std::uint8_t handset, const std::string& payload) {
    std::string frame = Hex("00 00 00 C0 02");
    frame += static_cast<char>(8 + payload.size());
    frame += Hex("FF 01 00") + "TXCS" + static_cast<char>(handset) + payload;
    rcv.StoreChunk(frame);
    rcv.HandleChunks();
  }
  Row GridRow(int r) const {
    Row row;
    for (int c = 0; c < TestGrid::kColumns; ++c) row.push_back(test.Grid().Cell(r, c));
    return row;
  }

  VirtualClock clock;
  test::RecordingMessages messages;
  View view;
  LineActivity line;
  LinkHandlers handlers{line};
  SendThread send{nullptr, clock};
  ReceiveThread rcv{nullptr, handlers, line, clock};
  HandsetPoller poller{send, rcv};
  LinkTest test{messages, nullptr, &poller, view, line};  // no send thread: nothing is posted
};

TEST_F(LinkTestFixture, BookingTableTickByTick) {
  test.SelectNode(2);
  test.StartOrStop("500");
  test.TestStep();  // only sends
  EXPECT_EQ(GridRow(2), (Row{"002", "0", "0", "0", "0", "0", "0", "0"}));
  EXPECT_EQ(test.State(), TestState::Waiting);
  test.TestStep();  // no answer
  EXPECT_EQ(GridRow(2), (Row{"002", "1", "0", "00.00%", "1", "0", "1", "100%"}));
  Answer(2, kGood);
  test.TestStep();
  EXPECT_EQ(GridRow(2), (Row{"002", "2", "0", "00.00%", "2", "0", "1", "50%"}));
  Answer(2, kGood.substr(1));  // 52 letters
  test.TestStep();
  EXPECT_EQ(GridRow(2), (Row{"002", "3", "0", "00.00%", "3", "1", "1", "66.67%"}));
  EXPECT_EQ(GridRow(1), (Row{"001", "0", "0", "0", "0", "0", "0", "0"}));
}

TEST_F(LinkTestFixture, OneCorruptedAndOneMissingOutOfFour) {
  std::string oneWrong = kGood;
  oneWrong[26] = 'z';
  test.SelectNode(1);
  test.StartOrStop("500");
  test.TestStep();
  Answer(9, kGood);  // another handset's answer counts as well
  test.TestStep();
  Answer(1, kGood + "Z");  // 54 letters
  test.TestStep();
  test.TestStep();  // nothing came
  Answer(1, oneWrong);
  Answer(1, kGood);  // the later answer of an interval decides
  test.TestStep();
  EXPECT_EQ(GridRow(1), (Row{"001", "4", "0", "00.00%", "4", "1", "1", "50%"}));
  Answer(1, oneWrong);
  test.TestStep();
  EXPECT_EQ(test.Grid().Cell(1, kColCorrupted), "2");
}

TEST_F(LinkTestFixture, StartIsRefusedBeforeAnythingChanges) {
  struct Case {
    bool tick;
    std::atomic<bool>* activity;  // another activity holding the line, or null
    const char* wait;
    const char* message;
  };
  const char* kWaitMessage = "等待时间必须是1到60000之间的整数！";
  const Case cases[] = {
      {false, nullptr, "500", "请先选择点菜机！"},
      {true, &line.downloadRunning, "500", "正在下传数据，请稍后再试!!"},
      // The download's start click went out; the ordering software's go-ahead is due.
      {true, &line.downloadRequested, "500", "正在下传数据，请稍后再试!!"},
      // From the click on "确定" until polling runs again, not only while "传输".
      {true, &line.stationBusy, "500", "正在设置基站，请稍后再试！"},
      {true, nullptr, "abc", kWaitMessage},
      {true, nullptr, "1.5", kWaitMessage},
      {true, nullptr, "0", kWaitMessage},
      {true, nullptr, "60001", kWaitMessage},
  };
  for (const auto& c : cases) {
    LinkTest fresh{messages, nullptr, &poller, view, line};
    fresh.AddHandset("001");
    if (c.tick) fresh.SelectNode(1);
    if (c.activity != nullptr) *c.activity = true;
    messages.Clear();
    fresh.StartOrStop(c.wait);
    EXPECT_EQ(messages.Messages(), std::vector<std::string>{c.message}) << c.wait;
    EXPECT_FALSE(fresh.Running() || line.linkTestRunning || view.interval) << c.message;
    EXPECT_EQ(poller.Pauses(), 0) << c.message;
    if (c.activity != nullptr) *c.activity = false;
  }
}

TEST_F(LinkTestFixture, CountersSurviveStopAndStartUntilReset) {
  test.SelectNode(1);
  test.StartOrStop(" 60000 ");
  EXPECT_EQ(view.interval, 60000);
  EXPECT_TRUE(line.linkTestRunning);
  EXPECT_EQ(poller.Pauses(), 1);
  test.TestStep();
  test.TestStep();
  test.TestStep();          // books the second frame, sends a third
  test.StartOrStop("500");  // stop: the third frame is never booked
  EXPECT_FALSE(line.linkTestRunning);
  EXPECT_EQ(poller.Pauses(), 0);
  test.StartOrStop("500");
  Answer(1, kGood);  // late answer to the third frame
  test.TestStep();   // the first tick of a run books nothing
  test.TestStep();
  EXPECT_EQ(GridRow(1), (Row{"001", "3", "0", "00.00%", "3", "0", "3", "100%"}));

  test.ResetCounters();  // not while running
  EXPECT_EQ(test.Grid().Cell(1, kColSent), "3");
  test.StartOrStop("500");
  test.ResetCounters();
  for (int r = 1; r <= 3; ++r) {
    EXPECT_EQ(GridRow(r), (Row{test.Tree().Text(r), "0", "0", "0", "0", "0", "0", "0"}));
  }
  test.StartOrStop("500");
  test.TestStep();
  Answer(1, kGood);
  test.TestStep();
  EXPECT_EQ(GridRow(1), (Row{"001", "1", "0", "00.00%", "1", "0", "0", "%"}));
}

TEST(LinkTestJob, EachTickPostsOneTestFrameWithRouteC0) {
  VirtualClock clock;
  test::FakeSerialPort port(&clock);
  SendThread send(&port, clock);
  LineActivity line;
  send.Start();
  test::RecordingMessages messages;
  View view;
  LinkTest test{messages, &send, nullptr, view, line};
  test.AddHandset("268");  // the handset byte is the number's low byte: 0x0C
  test.SelectNode(1);
  test.StartOrStop("500");
  line.replyRoute = 0xC1;  // left by the last frame received
  test.TestStep();
  test.TestStep();
  for (int i = 0; i < 5000 && !send.Idle(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(port.Written(), kFrame12 + kFrame12);
  EXPECT_EQ(line.replyRoute.load(), kDefaultRoute);
  send.TerminateAndJoin();

  // A frame the ended send thread refuses never went out: the tick after it books
  // nothing (the one before books the last frame that did go out).
  test.TestStep();
  test.TestStep();
  EXPECT_EQ(port.Written(), kFrame12 + kFrame12);
  EXPECT_EQ(test.Grid().Cell(1, kColSent), "2");
  EXPECT_EQ(test.Grid().Cell(1, kColMissing), "2");
}

}  // namespace
}  // namespace orderlink
