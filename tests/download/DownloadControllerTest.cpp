#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <map>

#include "common/Gbk.h"
#include "download/DownloadFakes.h"
#include "link/HandsetPoller.h"
#include "support/FakeSerialPort.h"
#include "support/ManualTimers.h"

namespace orderlink::test {
namespace {

struct Frame {
  std::int64_t at;
  int route, address;
  std::string code, record;  // record: number of a record frame
};

class DownloadRun : public ::testing::Test {
 protected:
  DownloadRun() = default;
  ~DownloadRun() override {
    send.TerminateAndJoin();  // no job may outlive the controller
  }

  std::vector<Frame> Frames() const {
    std::vector<Frame> frames;
    for (const auto& w : port.Writes()) {
      const std::string& b = w.bytes;
      const bool record = static_cast<std::uint8_t>(b[5]) >= 20 && b.substr(9, 4) != "QBKS";
      frames.push_back({w.atMs, static_cast<std::uint8_t>(b[3]), static_cast<std::uint8_t>(b[6]),
                        b.substr(9, 4), record ? b.substr(13, 5) : ""});
    }
    return frames;
  }
  std::string Summary() const {  // "address:code[:record]" of every frame
    std::string out;
    for (const auto& f : Frames()) {
      out +=
          std::to_string(f.address) + ":" + f.code + (f.record.empty() ? "" : ":" + f.record) + " ";
    }
    return out;
  }
  void Feed(const std::string& bytes) {
    rcv.StoreChunk(bytes);
    rcv.HandleChunks();
  }
  // Start click, the host's answer, and the broadcast (virtual time).
  void StartDownload(int lines, std::vector<int> handsets) {
    app.WriteLines("菜品类别表.txt", FixedLines(lines, 12));
    view.tables = Only({"CLB "});
    view.handsets = std::move(handsets);
    send.Start();
    controller.StartOrStopDownload();
    controller.OnDownloadGoAhead();
    timers.RunAll();  // the pause before the tables are read
    ASSERT_TRUE(WaitIdle(send));
  }
  // Ticks of the status phase until it ends; `answer` says what handset h answers
  // to its query ("" = nothing). Returns how often each handset was asked.
  std::map<int, int> RunStatusPhase(const std::function<std::string(int)>& answer) {
    std::map<int, int> asked;
    for (int tick = 0; tick < 100 && view.StatusTimerOn(); ++tick) {
      const std::size_t before = port.Writes().size();
      controller.StatusStep();
      EXPECT_TRUE(WaitIdle(send));
      const auto f = Frames();
      if (f.size() == before || f.back().code != "XZDM") continue;
      ++asked[f.back().address];
      const std::string reply = answer(f.back().address);
      if (!reply.empty()) Feed(AnswerFrame(reply, f.back().address));
    }
    return asked;
  }

  TempAppDir app;
  VirtualClock clock;         // the send thread's pauses
  VirtualClock receiveClock;  // the receive side's pauses, taken on the test's thread
                              // while a job runs: they must not stretch the job's time
  VirtualClock windowClock;   // the window's delayed steps, apart from the jobs' time
  ManualTimers timers{windowClock};
  FakeSerialPort port{&clock};
  FakeDownloadView view;
  RecordingHostLink host;
  RecordingMessages messages;
  SendThread send{&port, clock};
  LineActivity line;
  DownloadHandlers handlers{line, controller, rcv};
  ReceiveThread rcv{nullptr, handlers, line, receiveClock};
  HandsetPoller poller{send, rcv};
  DownloadController controller{
      TxtDir(app.Path()), timers, host, messages, view, &send, &poller, line};
};

TEST_F(DownloadRun, BroadcastOpensTenTimesThenSendsEveryRecordPaced) {
  line.replyRoute = 0xC1;  // the route of an earlier answer must not leak into the opening
  StartDownload(3, {3, 5});
  EXPECT_EQ(host.codes, std::vector<int>{NotifyDownload});
  EXPECT_EQ(app.Read("join.txt"),
            "00030001CLB 1xxxxxxxxxxx\r\n00030002CLB 2xxxxxxxxxxx\r\n00030003CLB 3xxxxxxxxxxx\r\n");
  EXPECT_EQ(ToHex(port.Writes()[0].bytes),
            ToHex(Hex("00 00 00 C0 02 12 00 01 00") + "QBKS" + "0000301CLB "));
  const auto f = Frames();
  ASSERT_EQ(f.size(), 13u);
  for (int i = 1; i < 10; ++i) EXPECT_EQ(f[i].at - f[i - 1].at, 30);
  EXPECT_EQ(f[10].at - f[9].at, 30 + 3000);
  EXPECT_EQ(f[12].at - f[11].at, 150);
  EXPECT_EQ(Summary().substr(Summary().size() - 39), "0:CLB :00001 0:CLB :00002 0:CLB :00003 ");

  const auto p = view.Progress();
  ASSERT_EQ(p.size(), 5u);
  EXPECT_EQ(p[0].text, "文件准备中...");
  EXPECT_EQ(p[2].text, "正在下载菜品类别表...      第0002条/共0003条");
  EXPECT_EQ(p[2].done * 3, p[2].total);  // one of three records sent
  EXPECT_EQ(p[4].text, "正在配置文件，请稍后...");
  EXPECT_TRUE(view.StatusTimerOn() && controller.RoundActive() && line.downloadRunning);
  EXPECT_EQ(view.Caption(), "正在下载");
  EXPECT_EQ(poller.Pauses(), 1);
}

struct StatusCase {
  const char* answerOf3;  // "" = silent
  const char* answerOf5;
  std::map<int, int> queries;
  const char* ending;  // the progress cell's and the message's last text
  std::map<int, HandsetOutcome> outcomes;
};
void PrintTo(const StatusCase& answers, std::ostream* out) {
  *out << "handset 3 answers \"" << answers.answerOf3 << "\", handset 5 \"" << answers.answerOf5
       << "\"";
}

class StatusPhase : public DownloadRun, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(StatusPhase, EndsWithTenClosingFramesWhenAllAnsweredOrAfterTenPasses) {
  StartDownload(1, {3, 5});
  port.ClearWrites();
  const auto asked = RunStatusPhase(
      [](int handset) { return handset == 3 ? GetParam().answerOf3 : GetParam().answerOf5; });
  EXPECT_EQ(asked, GetParam().queries);
  // The window's pauses around the closing frames: 100 ms before, 500 ms after.
  timers.RunFor(99);
  EXPECT_EQ(Frames().back().code, "XZDM");
  timers.RunFor(1);
  ASSERT_TRUE(WaitIdle(send));
  EXPECT_EQ(Frames().back().code, "QBJS");
  timers.RunFor(499);
  EXPECT_TRUE(messages.Messages().empty() && line.downloadRunning);
  EXPECT_EQ(poller.Pauses(), 1);
  timers.RunFor(1);
  const auto f = Frames();
  ASSERT_GE(f.size(), 10u);
  for (std::size_t i = f.size() - 10; i < f.size(); ++i) EXPECT_EQ(f[i].code, "QBJS");
  EXPECT_EQ(f.back().at - f[f.size() - 2].at, 30);
  EXPECT_EQ(messages.Messages(), std::vector<std::string>{GetParam().ending});
  EXPECT_EQ(view.Progress().back().text, GetParam().ending);
  EXPECT_EQ(view.Outcomes(), GetParam().outcomes);
  // While it asks, the cell says which pass and which handset.
  const auto p = view.Progress();
  EXPECT_TRUE(std::any_of(p.begin(), p.end(), [](const DownloadProgress& shown) {
    return shown.text == "正在配置文件，请稍后...第1遍，正在询问点菜机003";
  }));
  EXPECT_EQ(GetParam().queries.at(5) == 10,
            std::any_of(p.begin(), p.end(), [](const DownloadProgress& shown) {
              return shown.text == "正在配置文件，请稍后...第10遍，正在询问点菜机005";
            }));
  EXPECT_EQ(view.Caption(), "开始下载");
  EXPECT_FALSE(line.downloadRunning || view.StatusTimerOn());
  EXPECT_EQ(poller.Pauses(), 0);
  Feed(AnswerFrame("CRC ", 3));  // a late garbled frame must not restart the status phase
  EXPECT_FALSE(view.StatusTimerOn());
}

INSTANTIATE_TEST_SUITE_P(
    Answers, StatusPhase,
    ::testing::Values(StatusCase{"XZWC",
                                 "XZWC",
                                 {{3, 1}, {5, 1}},
                                 "下载完毕！",
                                 {{3, HandsetOutcome::Complete}, {5, HandsetOutcome::Complete}}},
                      StatusCase{"XZSB",
                                 "",
                                 {{3, 1}, {5, 10}},
                                 "下载完毕！点菜机003下载失败，点菜机005没有应答，"
                                 "请检查后重新下载。",
                                 {{3, HandsetOutcome::Failed}, {5, HandsetOutcome::NoAnswer}}}));

// A download needs the line: it does not start without one, a request waiting for
// the ordering software is called off when the line goes, and a go-ahead that comes
// while the line is gone sends nothing.
TEST_F(DownloadRun, WithoutTheLineNothingIsBroadcastAndNothingIsReportedDone) {
  constexpr char kLineGone[] = "串口已断开，下载没有进行，请检查串口连接后重新下载。";
  app.WriteLines("菜品类别表.txt", FixedLines(2, 12));
  view.tables = Only({"CLB "});
  view.handsets = {3};
  send.Start();

  line.portConnected = false;
  controller.StartOrStopDownload();
  EXPECT_TRUE(host.codes.empty());
  EXPECT_EQ(messages.Messages(), std::vector<std::string>{kLineGone});

  line.portConnected = true;
  controller.StartOrStopDownload();  // asks the ordering software for the tables
  ASSERT_EQ(host.codes, std::vector<int>{NotifyDownload});
  EXPECT_FALSE(view.InputsEnabled());
  line.portConnected = false;  // the adapter is pulled before the go-ahead
  controller.LineLost();
  EXPECT_TRUE(view.InputsEnabled());
  EXPECT_FALSE(line.DownloadOnLine());
  EXPECT_EQ(messages.Messages().size(), 2u);
  controller.OnDownloadGoAhead();  // late: nobody waits for it
  timers.RunAll();
  ASSERT_TRUE(WaitIdle(send));

  line.portConnected = true;
  controller.StartOrStopDownload();
  line.portConnected = false;  // the go-ahead finds the line gone
  controller.OnDownloadGoAhead();
  timers.RunAll();
  ASSERT_TRUE(WaitIdle(send));
  EXPECT_TRUE(port.Writes().empty());
  EXPECT_EQ(messages.Messages(), (std::vector<std::string>{kLineGone, kLineGone, kLineGone}));
  EXPECT_EQ(view.Caption(), "开始下载");
  EXPECT_FALSE(line.DownloadOnLine());
  EXPECT_EQ(poller.Pauses(), 0);
}

TEST_F(DownloadRun, ResendAnswersSendEachTheirOwnRecordsBetweenCcksAndCcjs) {
  StartDownload(20, {5, 7});
  port.ClearWrites();
  line.replyRoute = 0xC3;
  Feed(AnswerFrame("XZCC", 5, std::string("00001") + '\x02'));
  Feed(AnswerFrame("XZCC", 7, std::string("00017") + '\x09'));  // cut at line 20
  ASSERT_TRUE(WaitIdle(send));
  EXPECT_EQ(Summary(),
            "5:CCKS 5:CLB :00002 5:CLB :00003 5:CCJS "
            "7:CCKS 7:CLB :00018 7:CLB :00019 7:CLB :00020 7:CCJS ");
  const auto f = Frames();
  EXPECT_EQ(f[0].route, 0xC0);
  EXPECT_EQ(f[1].at - f[0].at, 100);
  EXPECT_EQ(f[2].at - f[1].at, 150);
  EXPECT_TRUE(view.StatusTimerOn());  // both stay pending and are asked again
  EXPECT_EQ(controller.PendingHandsets(), (std::vector<int>{5, 7}));
}

// Also when the user starts again at once: the old broadcast must still stop, and
// the stop's delayed step must leave the new attempt's page alone.
TEST_F(DownloadRun, StopClickEndsTheBroadcastAfterTheCurrentRecord) {
  app.WriteLines("菜品类别表.txt", FixedLines(5, 12));
  view.tables = Only({"CLB "});
  view.handsets = {4};
  send.Start();
  for (bool startAgain : {false, true}) {
    port.ClearWrites();
    std::promise<void> reached;
    std::promise<void> clicked;
    std::shared_future<void> clickedDone = clicked.get_future().share();
    view.onProgress = [&reached, clickedDone](const std::string& text) {  // send thread
      if (text != "正在下载菜品类别表...      第0002条/共0005条") return;
      reached.set_value();
      clickedDone.wait();
    };
    controller.StartOrStopDownload();
    controller.OnDownloadGoAhead();
    timers.RunFor(500);
    reached.get_future().wait();
    controller.StartOrStopDownload();                  // stop
    if (startAgain) controller.StartOrStopDownload();  // and start again at once
    clicked.set_value();
    ASSERT_TRUE(WaitIdle(send));
    timers.RunAll();
    controller.StatusStep();  // a late tick asks nobody
    ASSERT_TRUE(WaitIdle(send));

    EXPECT_EQ(Summary().substr(Summary().size() - 26), "0:CLB :00001 0:CLB :00002 ");
    const auto p = view.Progress();
    if (startAgain) {
      EXPECT_EQ(p.back().text, "正在下载菜品类别表...      第0002条/共0005条");
      EXPECT_FALSE(view.InputsEnabled());
      EXPECT_TRUE(line.downloadRequested);
    } else {
      // The job noticed the stop first; its text still follows the click's.
      EXPECT_EQ(p[p.size() - 2].text, "下载被终止!");
      EXPECT_EQ(p.back().text, "下载被终止！");
      EXPECT_TRUE(view.InputsEnabled());
    }
    EXPECT_FALSE(view.StatusTimerOn() || controller.RoundActive() || line.downloadRunning);
    EXPECT_EQ(view.Caption(), "开始下载");
    EXPECT_EQ(poller.Pauses(), 0);
  }
  EXPECT_EQ(host.codes.size(), 3u);
}

// The window never sleeps: each pause is a delayed step, in the order and with the
// length the handsets expect, and the click returns before any of it has run.
TEST_F(DownloadRun, StopIsADelayedStepAfterTheClickReturns) {
  StartDownload(1, {3});
  const std::int64_t clickedAt = windowClock.NowMs();
  controller.StartOrStopDownload();
  EXPECT_EQ(windowClock.NowMs(), clickedAt);
  EXPECT_EQ(view.Caption(), "开始下载");
  EXPECT_FALSE(view.StatusTimerOn() || controller.RoundActive());
  timers.RunFor(999);
  EXPECT_EQ(poller.Pauses(), 1);
  EXPECT_FALSE(view.InputsEnabled());
  EXPECT_EQ(view.Progress().back().text, "正在配置文件，请稍后...");
  timers.RunFor(1);
  EXPECT_EQ(view.Progress().back().text, "下载被终止!");
  EXPECT_TRUE(view.InputsEnabled());
  EXPECT_EQ(poller.Pauses(), 0);
  EXPECT_EQ(timers.Delays(), (std::vector<std::int64_t>{500, 1000}));
}

// A stop in any of the window's pauses takes over the page: the pending step of the
// stopped run does nothing, and polling resumes exactly once.
TEST_F(DownloadRun, StopInsideAPauseCancelsTheRestOfThatRun) {
  // During the pause before the tables are read: nothing is prepared or sent.
  app.WriteLines("菜品类别表.txt", FixedLines(1, 12));
  view.tables = Only({"CLB "});
  view.handsets = {3};
  send.Start();
  controller.StartOrStopDownload();
  controller.OnDownloadGoAhead();
  timers.RunFor(200);
  controller.StartOrStopDownload();
  timers.RunAll();
  ASSERT_TRUE(WaitIdle(send));
  EXPECT_TRUE(port.Writes().empty());
  EXPECT_FALSE(app.Read("join.txt").has_value());
  EXPECT_EQ(poller.Pauses(), 0);

  // During the pauses around the closing frames: no "下载完毕！" and one resume.
  for (const std::int64_t stopAfter : {50, 300}) {
    controller.StartOrStopDownload();
    controller.OnDownloadGoAhead();
    timers.RunAll();
    ASSERT_TRUE(WaitIdle(send));
    RunStatusPhase([](int) { return "XZWC"; });
    port.ClearWrites();
    timers.RunFor(stopAfter);
    ASSERT_TRUE(WaitIdle(send));
    controller.StartOrStopDownload();
    timers.RunAll();
    ASSERT_TRUE(WaitIdle(send));
    EXPECT_EQ(port.Writes().size(), stopAfter < 100 ? 0u : 10u) << stopAfter;
    EXPECT_TRUE(messages.Messages().empty()) << stopAfter;
    EXPECT_EQ(view.Progress().back().text, "下载被终止!");
    EXPECT_EQ(poller.Pauses(), 0) << stopAfter;
  }
}

// The line has one activity at a time, also before the ordering software's go-ahead.
TEST_F(DownloadRun, GoAheadWhileAnotherActivityHoldsTheLineEndsTheAttempt) {
  app.WriteLines("菜品类别表.txt", FixedLines(1, 12));
  view.tables = Only({"CLB "});
  view.handsets = {3};
  send.Start();
  controller.StartOrStopDownload();
  EXPECT_TRUE(line.downloadRequested && line.DownloadOnLine());
  EXPECT_FALSE(line.downloadRunning);

  struct Case {
    std::atomic<bool>* activity;
    const char* message;
  };
  for (const Case c : {Case{&line.linkTestRunning, "正在进行软件测试，请稍后再试！"},
                       Case{&line.stationBusy, "正在设置基站，请稍后再试！"}}) {
    messages.Clear();
    *c.activity = true;
    controller.OnDownloadGoAhead();
    EXPECT_FALSE(line.DownloadOnLine());
    EXPECT_EQ(view.Caption(), "开始下载");
    EXPECT_TRUE(view.InputsEnabled());
    timers.RunAll();
    ASSERT_TRUE(WaitIdle(send));
    EXPECT_EQ(messages.Messages(), std::vector<std::string>{c.message});
    EXPECT_TRUE(port.Writes().empty());
    EXPECT_EQ(poller.Pauses(), 0);
    // The start click is refused as long as the other activity runs.
    messages.Clear();
    controller.StartOrStopDownload();
    EXPECT_EQ(messages.Messages(), std::vector<std::string>{c.message});
    EXPECT_FALSE(line.downloadRequested);
    *c.activity = false;
  }
  EXPECT_EQ(host.codes, std::vector<int>{NotifyDownload});
}

TEST_F(DownloadRun, StartChecksComeInTheirOrder) {
  line.linkTestRunning = true;
  controller.StartOrStopDownload();
  line.linkTestRunning = false;
  controller.StartOrStopDownload();  // neither table nor handset
  view.tables = Only({"XGMM"});
  controller.StartOrStopDownload();
  view.handsets.assign(257, 1);
  controller.StartOrStopDownload();
  EXPECT_EQ(messages.Messages(),
            (std::vector<std::string>{"正在进行软件测试，请稍后再试！", "请先选择文件！",
                                      "请选择点菜机！", "选择的点菜机不能超过256个！"}));
  EXPECT_TRUE(host.codes.empty() && view.InputsEnabled());
  EXPECT_EQ(controller.TargetHandsets().size(), 256u);  // never more than the lists hold
  view.handsets = {9, 2};
  controller.StartOrStopDownload();
  EXPECT_EQ(host.codes, std::vector<int>{NotifyDownload});
  EXPECT_FALSE(view.InputsEnabled());
  EXPECT_EQ(controller.PendingHandsets(), (std::vector<int>{9, 2}));
}

TEST_F(DownloadRun, FailedPreparationKeepsThePreviousJobFileAndEndsTheAttempt) {
  ASSERT_TRUE(WriteFileBytes(app.Txt("join.txt"), "previous\r\n"));
  app.WriteLines("菜品类别表.txt", FixedLines(2, 12));
  app.WriteLines("菜品表.txt", FixedLines(1, 99));
  view.tables = Only({"CLB ", "CPB "});
  controller.OnDownloadGoAhead();
  timers.RunFor(500);
  EXPECT_EQ(app.Read("join.txt"), "previous\r\n");
  EXPECT_EQ(view.Caption(), "开始下载");
  // The message comes once polling runs again, after the pause.
  EXPECT_TRUE(messages.Messages().empty());
  EXPECT_EQ(poller.Pauses(), 1);
  timers.RunFor(1000);
  EXPECT_EQ(messages.Messages(), std::vector<std::string>{"菜品表第1行格式不正确"});
  EXPECT_TRUE(view.InputsEnabled());
  EXPECT_FALSE(line.downloadRunning);
  EXPECT_EQ(poller.Pauses(), 0);
  EXPECT_TRUE(port.Writes().empty());
}

// A query queued behind a long job (a resend can take a minute) would go out late
// and back to back with the next ones: while a job runs, a tick asks nobody.
TEST_F(DownloadRun, StatusTickAsksNobodyWhileAJobRuns) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  StartDownload(1, {3});
  ASSERT_TRUE(send.Post({"long job", 0, [released](SendThread&) { released.wait(); }}));
  port.ClearWrites();
  controller.StatusStep();
  release.set_value();
  ASSERT_TRUE(WaitIdle(send));
  EXPECT_EQ(Summary(), "");
  controller.StatusStep();  // the next tick asks the handset
  ASSERT_TRUE(WaitIdle(send));
  EXPECT_EQ(Summary(), "3:XZDM ");
}

}  // namespace
}  // namespace orderlink::test
