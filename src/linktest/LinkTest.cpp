#include "linktest/LinkTest.h"

#include "common/WholeNumber.h"
#include "link/HandsetPoller.h"
#include "link/Protocol.h"
#include "link/SendThread.h"

namespace orderlink {

namespace {
constexpr int kMinWaitMs = 1;
constexpr int kMaxWaitMs = 60000;
}  // namespace

LinkTest::LinkTest(MessageSink& messages, SendThread* send, HandsetPoller* poller,
                   LinkTestView& view, LineActivity& line)
    : messages_(messages), send_(send), poller_(poller), view_(view), line_(line) {}

void LinkTest::AddHandset(const std::string& text) {
  tree_.AddHandset(text);
  grid_.AddRow(text);
}

void LinkTest::SelectNode(int index) {
  if (running_) return;  // the handset under test stays fixed while the test runs
  tree_.Select(index);
  view_.TreeChanged();
}

void LinkTest::StartOrStop(std::string_view waitText) {
  if (running_) {
    Stop();
    return;
  }
  if (const std::string_view refusal = line_.RefusalFor(LineUser::LinkTest); !refusal.empty()) {
    messages_.ShowMessage(std::string(refusal));
    return;
  }
  const auto node = tree_.FirstTicked();
  if (!node) {
    messages_.ShowMessage("请先选择点菜机！");
    return;
  }
  const auto wait = ParseWholeNumber(waitText);
  if (!wait || *wait < kMinWaitMs || *wait > kMaxWaitMs) {
    messages_.ShowMessage("等待时间必须是1到60000之间的整数！");
    return;
  }
  Start(*node, *wait);
}

void LinkTest::Start(int handsetNode, int intervalMs) {
  auto taken = line_.Take(LineUser::LinkTest, poller_);
  if (!taken.grant.Holds()) {
    messages_.ShowMessage(std::string(taken.refusal));
    return;
  }
  testHandset_ = tree_.Number(handsetNode);
  grant_ = std::move(taken.grant);
  grant_.PausePolling();
  SetRunning(true);
  state_ = TestState::Starting;
  view_.SetTestTimer(true, intervalMs);
}

void LinkTest::Stop() {
  SetRunning(false);
  view_.SetTestTimer(false, 0);
  grant_.Release();
}

void LinkTest::SetRunning(bool running) {
  running_ = running;
  view_.ShowRunning(running);
}

void LinkTest::TestStep() {
  const auto node = tree_.FirstTicked();
  if (!running_ || !node) return;
  const int r = *node;
  // Taken and replaced in one step, so an answer arriving meanwhile is not lost.
  const TestState outcome = state_.exchange(TestState::Waiting);
  if (outcome != TestState::Starting) {
    const auto percent = [this, r](int numerator, int denominator) {
      return static_cast<double>(numerator) / grid_.Count(r, denominator) * 100;
    };
    grid_.Increment(r, kColSent);
    grid_.SetCell(r, kColSendRate,
                  FormatPaddedPercent(percent(grid_.Count(r, kColSendErrors), kColSent)));
    grid_.Increment(r, kColReceived);
    if (outcome == TestState::BadAnswer) grid_.Increment(r, kColCorrupted);
    if (outcome == TestState::Waiting) grid_.Increment(r, kColMissing);
    grid_.SetCell(r, kColReceiveRate,
                  FormatTrimmedPercent(percent(
                      grid_.Count(r, kColCorrupted) + grid_.Count(r, kColMissing), kColReceived)));
    view_.GridChanged();
  }
  // A frame the send queue refused never went out: the next tick books nothing.
  const auto handset = static_cast<std::uint8_t>(testHandset_ & 0xFF);
  if (send_ != nullptr && !send_->Post({"link test", handset, [this, handset](SendThread& t) {
                                          JobLinkTest(t, handset, line_);
                                        }})) {
    state_ = TestState::Starting;
  }
}

void LinkTest::ResetCounters() {
  if (running_) return;  // the counters of a running test stay as they are
  grid_.ResetCounters();
  view_.GridChanged();
}

void LinkTest::EvaluateTestAnswer(const Message& answer) {
  const TestState verdict =
      answer.payload == kTestPattern ? TestState::GoodAnswer : TestState::BadAnswer;
  TestState seen = state_.load();
  do {
    // Nothing of this run is out yet: a late answer to the previous run's last
    // frame must not be booked for a frame that was never sent.
    if (seen == TestState::Starting) return;
  } while (!state_.compare_exchange_weak(seen, verdict));
}

void JobLinkTest(SendThread& thread, std::uint8_t handset, LineActivity& line) {
  line.ForgetReplyRoute();
  SendFrame(thread, kDefaultRoute, kCodeLinkTest, handset, 0, kTestPattern);
}

}  // namespace orderlink
