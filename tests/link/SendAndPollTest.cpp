#include <gtest/gtest.h>

#include <future>
#include <limits>
#include <map>
#include <thread>

#include "common/Clock.h"
#include "link/FrameCodec.h"
#include "link/HandsetPoller.h"
#include "link/LineActivity.h"
#include "link/ReceiveThread.h"
#include "link/SendThread.h"
#include "support/FakeSerialPort.h"
#include "support/LineHolder.h"
#include "support/RecordingFrameSink.h"

namespace orderlink {
namespace {

using test::FakeSerialPort;
using test::Hex;
using test::ToHex;

struct Link {
  VirtualClock clock;
  FakeSerialPort port{&clock};
  test::RecordingFrameSink handlers;
  LineActivity line;
  SendThread send{&port, clock};
  ReceiveThread rcv{&port, handlers, line, clock};
  HandsetPoller poller{send, rcv};

  Link() {
    for (int n : {1, 2, 3}) poller.Add(n);
    poller.Start(15);  // sets the period; the real timer is stopped again below
    poller.Stop();
    clock.Advance(1000);  // both workers idle
  }
  std::vector<std::string> Frames() const {
    std::vector<std::string> frames;
    for (const auto& w : port.Writes()) frames.push_back(ToHex(w.bytes));
    return frames;
  }
  void TickAfterPeriod() {
    clock.Advance(66);
    poller.Tick();
  }
};

TEST(Poller, PollsRoundRobinOnAQuietLine) {
  Link link;
  EXPECT_EQ(link.poller.Period(), 66);
  for (int i = 0; i < 5; ++i) link.TickAfterPeriod();
  EXPECT_EQ(link.Frames(),
            (std::vector<std::string>{"00 00 00 C0 01 01", "00 00 00 C0 01 02", "00 00 00 C0 01 03",
                                      "00 00 00 C0 01 01", "00 00 00 C0 01 02"}));
}

TEST(Poller, ChunkHoldOffKeepsSixteenTicksQuiet) {
  Link link;
  link.rcv.StoreChunk("x");
  link.rcv.HandleChunks();  // HoldOff 1000
  int quiet = 0;
  while (link.port.Writes().empty() && quiet < 100) {
    link.TickAfterPeriod();
    if (link.port.Writes().empty()) ++quiet;
  }
  EXPECT_EQ(quiet, 16);
  EXPECT_EQ(link.rcv.HoldOff.load(), 0);  // counted down to 0, never below
}

TEST(Poller, EitherWorkersHoldOffKeepsItQuietAndCountsDownWithoutWrapping) {
  Link link;
  // The send thread's own hold-off: 200 ms take four ticks (200, 134, 68, 2).
  link.send.HoldOff = 200;
  for (int i = 0; i < 4; ++i) link.TickAfterPeriod();
  EXPECT_TRUE(link.port.Writes().empty());
  EXPECT_EQ(link.send.HoldOff.load(), 0);
  link.TickAfterPeriod();
  EXPECT_EQ(link.port.Writes().size(), 1u);

  // While the receive thread keeps asking for quiet, the other count stays at 0 and
  // a count already near the bottom of its range cannot wrap to weeks of quiet.
  link.send.HoldOff = std::numeric_limits<std::int32_t>::min() + 10;
  for (int i = 0; i < 100; ++i) {
    link.rcv.HoldOff = 1000;
    link.TickAfterPeriod();
    ASSERT_EQ(link.send.HoldOff.load(), 0) << "tick " << i;
  }
  link.rcv.HoldOff = 0;
  link.TickAfterPeriod();
  EXPECT_EQ(link.port.Writes().size(), 2u);
}

TEST(Poller, PollsRunOnTheSendThreadBetweenJobsAndStoppingNeverWaitsForAJob) {
  // Real threads and the real steady-clock ticks: a three-packet message with its
  // 150 ms pauses goes out whole, the polls before and after it; stopping the polls
  // while a job holds the line returns at once.
  SystemClock clock;
  FakeSerialPort port;
  test::RecordingFrameSink handlers;
  LineActivity line;
  SendThread send{&port, clock};
  ReceiveThread rcv{&port, handlers, line, clock};
  HandsetPoller poller{send, rcv};
  test::LineHolder holder{send};
  poller.Add(1);
  send.Start();
  poller.Start(15);
  const auto polls = [&] {
    std::size_t n = 0;
    for (const auto& w : port.Writes()) n += w.bytes == Hex("00 00 00 C0 01 01");
    return n;
  };
  for (int i = 0; i < 300 && polls() < 2; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(send.Post({"message", 2, [](SendThread& t) {
                           SendFrame(t, kDefaultRoute, "DX  ", 2, 0, std::string(120, 'm'));
                         }}));
  ASSERT_TRUE(test::WaitIdle(send));
  const std::size_t before = port.Writes().size();
  for (int i = 0; i < 300 && port.Writes().size() < before + 2; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));

  const auto writes = port.Writes();
  std::size_t first = 0;
  while (first < writes.size() && writes[first].bytes.size() == 6) ++first;
  ASSERT_GE(first, 2u);
  ASSERT_GE(writes.size(), first + 5);
  EXPECT_EQ(writes[first].bytes.substr(0, 9), Hex("00 00 00 C0 02 3D 02 01 01"));
  EXPECT_EQ(writes[first + 1].bytes.substr(0, 9), Hex("00 00 00 C0 02 3D 02 02 01"));
  EXPECT_EQ(writes[first + 2].bytes.substr(0, 9), Hex("00 00 00 C0 02 13 02 03 00"));
  EXPECT_EQ(writes[first + 3].bytes, Hex("00 00 00 C0 01 01"));

  ASSERT_TRUE(holder.Hold());
  EXPECT_TRUE(holder.ReturnsWhileHeld([&] { poller.Stop(); }));
  holder.Release();
  send.TerminateAndJoin();
}

TEST(Poller, DoesNotPollWhileAWorkerWasActiveWithinThePeriod) {
  Link link;
  link.send.Touch();
  link.clock.Advance(65);
  link.poller.Tick();
  EXPECT_TRUE(link.port.Writes().empty());
  link.clock.Advance(1);
  link.poller.Tick();
  EXPECT_EQ(link.port.Writes().size(), 1u);
}

TEST(Poller, NestedPausesNeedAsManyResumes) {
  Link link;
  link.poller.PausePolling();
  link.poller.PausePolling();
  link.TickAfterPeriod();
  link.poller.ResumePolling();
  link.TickAfterPeriod();
  EXPECT_TRUE(link.port.Writes().empty());
  link.poller.ResumePolling();
  link.TickAfterPeriod();
  EXPECT_EQ(link.port.Writes().size(), 1u);
}

TEST(Poller, PendingOutputHoldsThePollBackAndIsNeverDiscarded) {
  Link link;
  link.port.SetOutputPending(12);
  link.TickAfterPeriod();
  link.TickAfterPeriod();
  EXPECT_TRUE(link.port.Writes().empty());
  link.port.SetOutputPending(0);
  link.TickAfterPeriod();
  // The handset whose turn it was is polled once the line is free.
  EXPECT_EQ(link.Frames(), std::vector<std::string>{"00 00 00 C0 01 01"});
}

TEST(Poller, EmptyListNeverPollsAndTheListHolds256) {
  VirtualClock clock;
  FakeSerialPort port(&clock);
  test::RecordingFrameSink handlers;
  LineActivity line;
  SendThread send(&port, clock);
  ReceiveThread rcv(&port, handlers, line, clock);
  HandsetPoller poller(send, rcv);
  clock.Advance(1000);
  poller.Tick();
  EXPECT_TRUE(port.Writes().empty());
  for (int i = 0; i < 256; ++i) EXPECT_TRUE(poller.Add(i));
  EXPECT_FALSE(poller.Add(256));
}

TEST(SendFrame, OneHundredTwentyBytesGoOutAsThreePackets150msApart) {
  Link link;
  link.send.Run({"message", 4, [](SendThread& t) {
                   SendFrame(t, kDefaultRoute, "DX  ", 4, 0, std::string(120, 'm'));
                 }});
  const auto writes = link.port.Writes();
  ASSERT_EQ(writes.size(), 3u);
  EXPECT_EQ(writes[1].atMs - writes[0].atMs, 150);
  EXPECT_EQ(writes[2].atMs - writes[1].atMs, 150);
  EXPECT_EQ(writes[0].bytes.substr(0, 9), Hex("00 00 00 C0 02 3D 04 01 01"));
  EXPECT_EQ(writes[1].bytes.substr(0, 9), Hex("00 00 00 C0 02 3D 04 02 01"));
  EXPECT_EQ(writes[2].bytes.substr(0, 9), Hex("00 00 00 C0 02 13 04 03 00"));
  EXPECT_EQ(link.send.HoldOff.load(), 160);
}

TEST(SendFrame, UsesTheRouteByteItIsGivenAndWritesNothingWithoutAPort) {
  Link link;
  link.send.Run({"time answer", 7, [](SendThread& t) { SendFrame(t, 0xC3, "SJCX", 7, 0, ""); }});
  EXPECT_EQ(link.Frames(), std::vector<std::string>{"00 00 00 C3 02 07 07 01 00 53 4A 43 58"});
  EXPECT_EQ(link.send.HoldOff.load(), 10);  // set at the start of every job

  VirtualClock clock;
  SendThread portless(nullptr, clock);
  portless.Run({"message", 1, [](SendThread& t) {
                  SendFrame(t, kDefaultRoute, "DX  ", 1, 0, std::string(200, 'x'));
                }});
  EXPECT_TRUE(clock.Sleeps().empty());
}

TEST(SendFrame, LengthTakesOnlyTheFirstBytes) {
  Link link;
  link.send.Run({"short message", 2, [](SendThread& t) {
                   SendFrame(t, kDefaultRoute, "DX  ", 2, 3, "abcdef");
                   SendRecordFrame(t, 2, "00002", 0,
                                   "00010001CPLB"
                                   "rec");
                 }});
  const auto writes = link.port.Writes();
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0].bytes, Hex("00 00 00 C0 02 0A 02 01 00") + "DX  abc");
  EXPECT_EQ(writes[1].bytes, Hex("00 00 00 C0 02 17 02 01 00") +
                                 "CPLB00002"
                                 "0001"
                                 "0001"
                                 "rec");
}

// A send thread whose work records what it was given, and whose line a LineHolder can
// hold.
struct RecordingSendThread {
  SystemClock clock;
  FakeSerialPort port;
  SendThread send{&port, clock};
  test::LineHolder holder{send};
  std::mutex ranMutex;
  std::vector<std::string> ran;  // "<name>/<handset>/<data>" of every job run, in order

  // Work that records its name, handset and data when it runs.
  LineWork Work(std::string_view name, int handset, std::string data = {}) {
    return {name, handset, [this, name, handset, data](SendThread&) {
              std::lock_guard lock(ranMutex);
              ran.push_back(std::string(name) + "/" + std::to_string(handset) + "/" + data);
            }};
  }
  ~RecordingSendThread() {
    holder.Release();
    send.TerminateAndJoin();
  }
  void StartAndHold() {
    send.Start();
    ASSERT_TRUE(holder.Hold());
  }
  std::vector<std::string> Ran() {
    std::lock_guard lock(ranMutex);
    return ran;
  }
};

TEST(SendThread, PostingNeverWaitsForARunningJobAndJobsRunInPostingOrder) {
  RecordingSendThread t;
  t.StartAndHold();
  bool accepted = false;
  EXPECT_TRUE(t.holder.ReturnsWhileHeld([&] {
    accepted = t.send.Post(t.Work("short message", 12, "first")) &&
               t.send.Post(t.Work("status query", 3)) &&
               t.send.Post(t.Work("short message", 13, "second"));
  }));
  EXPECT_TRUE(accepted);
  EXPECT_FALSE(t.send.Idle());  // queued jobs count as work
  t.holder.Release();
  ASSERT_TRUE(test::WaitIdle(t.send));
  EXPECT_EQ(t.Ran(), (std::vector<std::string>{"short message/12/first", "status query/3/",
                                               "short message/13/second"}));
}

TEST(SendThread, AFullQueueRefusesWithALogLineAndKeepsWhatItHolds) {
  RecordingSendThread t;
  t.StartAndHold();
  for (std::size_t i = 0; i < SendThread::kQueueCapacity; ++i) {
    ASSERT_TRUE(t.send.Post(t.Work("status query", static_cast<int>(i))));
  }
  testing::internal::CaptureStderr();
  EXPECT_FALSE(t.send.Post(t.Work("end of download", 77)));
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("full"), std::string::npos) << log;
  EXPECT_NE(log.find("end of download for handset 77"), std::string::npos) << log;
  EXPECT_TRUE(t.send.Accepting());
  t.holder.Release();
  ASSERT_TRUE(test::WaitIdle(t.send));
  const auto ran = t.Ran();
  ASSERT_EQ(ran.size(), SendThread::kQueueCapacity);
  EXPECT_EQ(ran.front(), "status query/0/");
  EXPECT_EQ(ran.back(), "status query/63/");
}

TEST(SendThread, JobsPostedBeforeStartOrAfterTheEndAreDroppedNotWaitedFor) {
  RecordingSendThread t;
  testing::internal::CaptureStderr();
  bool accepted = true;
  EXPECT_TRUE(t.holder.ReturnsWhileHeld([&] {
    // Two, as two replies announced while a start-up message box is open.
    const bool first = t.send.Post(t.Work("reply", 0));
    const bool second = t.send.Post(t.Work("reply", 0));
    accepted = first || second;
  }));
  EXPECT_FALSE(accepted);
  EXPECT_TRUE(t.send.Idle());
  EXPECT_NE(testing::internal::GetCapturedStderr().find("not running yet: reply for handset 0"),
            std::string::npos);

  // Jobs still queued when the thread is told to end are dropped, each with a line.
  t.StartAndHold();
  ASSERT_TRUE(t.send.Post(t.Work("download status query", 5)));
  testing::internal::CaptureStderr();
  t.send.Terminate();
  t.holder.Release();
  t.send.TerminateAndJoin();
  EXPECT_FALSE(t.send.Post(t.Work("download status query", 6)));
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("download status query for handset 5 is not sent"), std::string::npos) << log;
  EXPECT_NE(log.find("has ended: download status query for handset 6"), std::string::npos) << log;
  EXPECT_TRUE(t.Ran().empty());
  EXPECT_TRUE(t.send.Idle());
}

TEST(SendThread, JobsPostedFromTwoThreadsAtOnceAllRunOnceEachInTheirPostersOrder) {
  RecordingSendThread t;
  t.StartAndHold();
  // Both posters start together and post while the line is held, so every post
  // meets the other poster at the queue; half the queue each.
  constexpr int kEach = static_cast<int>(SendThread::kQueueCapacity / 2);
  std::promise<void> go;
  std::shared_future<void> goSignal = go.get_future().share();
  std::atomic<int> refused{0};
  auto poster = [&](std::string_view name, int handset) {
    goSignal.wait();
    for (int i = 0; i < kEach; ++i) {
      if (!t.send.Post(t.Work(name, handset, std::to_string(i)))) ++refused;
    }
  };
  std::thread a(poster, "status query", 1);
  std::thread b(poster, "end of download", 2);
  go.set_value();
  a.join();
  b.join();
  EXPECT_EQ(refused.load(), 0);
  t.holder.Release();
  ASSERT_TRUE(test::WaitIdle(t.send));
  std::map<int, int> nextOf{{1, 0}, {2, 0}};
  for (const std::string& job : t.Ran()) {
    const int handset = job[job.find('/') + 1] - '0';
    EXPECT_EQ(job.substr(job.rfind('/') + 1), std::to_string(nextOf[handset]++)) << job;
  }
  EXPECT_EQ(nextOf[1], kEach);
  EXPECT_EQ(nextOf[2], kEach);
}

TEST(SendThread, WorkWithoutABodyDoesNothingButStillTakesItsTurn) {
  VirtualClock clock;
  FakeSerialPort port(&clock);
  SendThread send(&port, clock);
  send.HoldOff = 500;
  send.Run({"empty", 0, nullptr});
  EXPECT_TRUE(port.Writes().empty());
  EXPECT_EQ(send.HoldOff.load(), 10);  // set at the start of every job
}

TEST(SendThread, ShutdownEndsARunningJobsPauseAtOnce) {
  SystemClock clock;
  FakeSerialPort port;
  SendThread send(&port, clock);
  std::atomic<bool> started{false};
  const LineWork longPause{"download", 0, [&](SendThread& t) {
                             started = true;
                             t.Pause(60'000);
                           }};
  send.Start();
  ASSERT_TRUE(send.Post(longPause));
  while (!started) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const auto before = std::chrono::steady_clock::now();
  send.TerminateAndJoin();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
  // A poster after shutdown is refused at once.
  EXPECT_FALSE(send.Post(longPause));
}

TEST(SendThread, AMessageStopsBeforeItsNextPacketOnceTheThreadIsToldToEnd) {
  Link link;
  link.send.Terminate();
  link.send.Run({"message", 4, [](SendThread& t) {
                   SendFrame(t, kDefaultRoute, "DX  ", 4, 0, std::string(120, 'm'));
                 }});
  EXPECT_TRUE(link.port.Writes().empty());
}

TEST(ReceiveThread, TheLoopHandsOverChunksStoredFromAnotherThread) {
  struct Counting : FrameSink {
    void OnMessage(const Message&) override { ++requests; }
    std::atomic<int> requests{0};
  };
  SystemClock clock;
  Counting handlers;
  LineActivity line;
  ReceiveThread rcv(nullptr, handlers, line, clock);
  rcv.Start();
  const std::string frame = LongPacket(0xC0, 0xFF, 1, false, "DL  ",
                                       "\x05"
                                       "ok");
  for (int i = 0; i < 3000; ++i) {  // more than the ring holds: a full ring refuses the chunk
    while (!rcv.StoreChunk(frame)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  for (int i = 0; i < 500 && handlers.requests < 3000; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  rcv.TerminateAndJoin();
  EXPECT_EQ(handlers.requests.load(), 3000);
}

}  // namespace
}  // namespace orderlink
