#pragma once
// The link test: while it runs, one test frame kCodeLinkTest with 53 letters Z goes to the
// handset under test per wait interval; each tick books the outcome of the frame
// sent at the tick before (good, corrupted or no answer) into the statistics grid.
// The handset poll is paused for the whole test.
//
// Threads: everything runs on the window thread except EvaluateTestAnswer (receive
// thread, sets TestState) and JobLinkTest (send thread). TestState is the only
// value both sides touch; it is one atomic word.

#include <atomic>
#include <string>
#include <string_view>

#include "common/MessageSink.h"
#include "link/LineActivity.h"
#include "linktest/HandsetTree.h"
#include "linktest/TestGrid.h"

namespace orderlink {

class SendThread;
class HandsetPoller;
struct Message;

// Content of every test frame and the payload a good answer must carry.
inline constexpr std::string_view kTestPattern =
    "ZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZ";  // 53 x 'Z'
static_assert(kTestPattern.size() == 53);

// Outcome of the interval now running.
enum class TestState {
  BadAnswer,   // an answer arrived whose payload differs from the pattern
  GoodAnswer,  // an answer arrived with exactly the pattern
  Waiting,     // a frame is out, no answer seen since
  Starting,    // just started, nothing sent yet
};

// What the test changes on its tab. Called on the window thread only (no worker
// changes the tab: the receive side only sets TestState).
class LinkTestView {
 public:
  virtual ~LinkTestView() = default;
  // The start button reads "停止测试" (running) or "开始测试"; the reset and save
  // buttons and the handset tree are enabled only while the test is idle.
  virtual void ShowRunning(bool running) = 0;
  // The test timer on with the given interval, or off.
  virtual void SetTestTimer(bool enabled, int intervalMs) = 0;
  // Cell texts of the grid changed.
  virtual void GridChanged() = 0;
  // State indices of the tree changed.
  virtual void TreeChanged() = 0;
};

class LinkTest {
 public:
  // `send` and `poller` may be absent; the test then sends nothing / pauses nothing.
  // `line` must outlive the object.
  LinkTest(MessageSink& messages, SendThread* send, HandsetPoller* poller, LinkTestView& view,
           LineActivity& line);

  // Start-up: one tree node and one grid row per handset.
  void AddHandset(const std::string& text);
  // Node `index` was selected; keeps the tree single-choice.
  void SelectNode(int index);
  // Start or stop; `waitText` is the text of the wait field (milliseconds).
  void StartOrStop(std::string_view waitText);
  // One step of the cycle: book the previous frame's outcome, send the next frame.
  void TestStep();
  // "计数清零": columns 1 to 7 of every handset row := "0".
  void ResetCounters();

  // Receive thread: a complete kCodeLinkTest message was accepted; its payload (after the
  // answering handset's number) decides the interval. The answering handset and
  // any sequence are not compared: the latest answer in an interval counts. An
  // answer before the first tick of a run (TestState::Starting) is ignored.
  void EvaluateTestAnswer(const Message& answer);

  [[nodiscard]] bool Running() const { return running_; }
  [[nodiscard]] TestState State() const { return state_.load(); }
  [[nodiscard]] int TestHandset() const { return testHandset_; }
  [[nodiscard]] const TestGrid& Grid() const { return grid_; }
  [[nodiscard]] const HandsetTree& Tree() const { return tree_; }

 private:
  void SetRunning(bool running);
  void Stop();
  void Start(int handsetNode, int intervalMs);

  MessageSink& messages_;
  SendThread* send_;
  HandsetPoller* poller_;
  LinkTestView& view_;
  LineActivity& line_;
  LineGrant grant_;  // while the test runs: the line, polling paused
  HandsetTree tree_;
  TestGrid grid_;
  bool running_ = false;
  int testHandset_ = 0;
  std::atomic<TestState> state_{TestState::Waiting};
};

// Job 5 (send thread): the test frame to `handset` under 0xC0; the reply route
// returns to 0xC0.
void JobLinkTest(SendThread& thread, std::uint8_t handset, LineActivity& line);

}  // namespace orderlink
