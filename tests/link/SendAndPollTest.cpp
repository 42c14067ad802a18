#include <gtest/gtest.h>

#include <thread>

#include "common/Clock.h"
#include "link/FrameCodec.h"
#include "link/LinkState.h"
#include "link/TComCtr.h"
#include "link/TRcvThread.h"
#include "link/TSendThread.h"
#include "support/FakeSerialPort.h"
#include "support/RecordingHandlers.h"

namespace orderlink {
namespace {

using test::FakeSerialPort;
using test::Hex;
using test::ToHex;

struct Link {
  VirtualClock clock;
  FakeSerialPort port{&clock};
  test::RecordingHandlers handlers;
  TSendThread send{&port, clock};
  TRcvThread rcv{&port, handlers, clock};
  TComCtr poller{send, rcv};

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
  EXPECT_EQ(link.Frames(), (std::vector<std::string>{"00 00 00 C0 01 01", "00 00 00 C0 01 02",
                                                     "00 00 00 C0 01 03", "00 00 00 C0 01 01",
                                                     "00 00 00 C0 01 02"}));
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
  EXPECT_EQ(link.rcv.HoldOff.load(), 1000 - 16 * 66);
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

TEST(Poller, PendingOutputIsDiscardedInsteadOfAPoll) {
  Link link;
  link.port.SetOutputPending(12);
  link.TickAfterPeriod();
  EXPECT_TRUE(link.port.Writes().empty());
  EXPECT_EQ(link.port.Discards(), 1);
  link.TickAfterPeriod();
  // The turn passed to the next handset all the same.
  EXPECT_EQ(link.Frames(), std::vector<std::string>{"00 00 00 C0 01 02"});
}

TEST(Poller, EmptyListNeverPollsAndTheListHolds256) {
  VirtualClock clock;
  FakeSerialPort port(&clock);
  test::RecordingHandlers handlers;
  TSendThread send(&port, clock);
  TRcvThread rcv(&port, handlers, clock);
  TComCtr poller(send, rcv);
  clock.Advance(1000);
  poller.Tick();
  EXPECT_TRUE(port.Writes().empty());
  for (int i = 0; i < 256; ++i) EXPECT_TRUE(poller.Add(i));
  EXPECT_FALSE(poller.Add(256));
}

TEST(SendFrame, OneHundredTwentyBytesGoOutAsThreePackets150msApart) {
  Link link;
  link.send.RegisterJob(JobReplyCode, [](TSendThread& t, std::uint8_t handset) {
    SendFrame(t, "DX  ", handset, 0, std::string(120, 'm'));
  });
  link.send.RunJob(JobReplyCode, 4);
  const auto writes = link.port.Writes();
  ASSERT_EQ(writes.size(), 3u);
  EXPECT_EQ(writes[1].atMs - writes[0].atMs, 150);
  EXPECT_EQ(writes[2].atMs - writes[1].atMs, 150);
  EXPECT_EQ(writes[0].bytes.substr(0, 9), Hex("00 00 00 C0 02 3D 04 01 01"));
  EXPECT_EQ(writes[1].bytes.substr(0, 9), Hex("00 00 00 C0 02 3D 04 02 01"));
  EXPECT_EQ(writes[2].bytes.substr(0, 9), Hex("00 00 00 C0 02 13 04 03 00"));
  EXPECT_EQ(link.send.HoldOff.load(), 160);
}

TEST(SendFrame, UsesTheRouteByteReadOnceAndWritesNothingWithoutAPort) {
  Link link;
  RouteByte = 0xC3;
  link.send.RegisterJob(JobTimeReplyCode, [](TSendThread& t, std::uint8_t handset) {
    SendFrame(t, "SJCX", handset, 0, "");
  });
  link.send.RunJob(JobTimeReplyCode, 7);
  EXPECT_EQ(link.Frames(), std::vector<std::string>{"00 00 00 C3 02 07 07 01 00 53 4A 43 58"});
  EXPECT_EQ(link.send.HoldOff.load(), 10);  // set at the start of every job
  RouteByte = kDefaultRoute;

  VirtualClock clock;
  TSendThread portless(nullptr, clock);
  portless.RegisterJob(JobTimeReplyCode, [](TSendThread& t, std::uint8_t) {
    SendFrame(t, "DX  ", 1, 0, std::string(200, 'x'));
  });
  portless.RunJob(JobTimeReplyCode, 1);
  EXPECT_TRUE(clock.Sleeps().empty());
}

TEST(SendFrame, LengthTakesOnlyTheFirstBytes) {
  Link link;
  link.send.RegisterJob(JobShortMessageCode, [](TSendThread& t, std::uint8_t handset) {
    SendFrame(t, "DX  ", handset, 3, "abcdef");
    SendRecordFrame(t, handset, "00002", 0, "00010001CPLB" "rec");
  });
  link.send.RunJob(JobShortMessageCode, 2);
  const auto writes = link.port.Writes();
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0].bytes, Hex("00 00 00 C0 02 0A 02 01 00") + "DX  abc");
  EXPECT_EQ(writes[1].bytes, Hex("00 00 00 C0 02 17 02 01 00") + "CPLB00002" "0001" "0001" "rec");
}

TEST(SendThread, JobsPostedFromTwoThreadsAreAllRunInTurn) {
  SystemClock clock;
  FakeSerialPort port;
  TSendThread send(&port, clock);
  std::atomic<int> running{0};
  std::atomic<int> overlaps{0};
  std::vector<int> seen;
  std::mutex seenMutex;
  auto job = [&](TSendThread&, std::uint8_t handset) {
    if (++running > 1) ++overlaps;
    {
      std::lock_guard l(seenMutex);
      seen.push_back(handset);
    }
    --running;
  };
  send.RegisterJob(JobStatusQueryCode, job);
  send.RegisterJob(JobEndAllCode, job);
  send.Start();
  constexpr int kEach = 200;
  std::thread a([&] { for (int i = 0; i < kEach; ++i) send.PostJob(JobStatusQueryCode, 1); });
  std::thread b([&] { for (int i = 0; i < kEach; ++i) send.PostJob(JobEndAllCode, 2); });
  a.join();
  b.join();
  while (!send.Idle()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  send.TerminateAndJoin();
  EXPECT_EQ(seen.size(), 2u * kEach);
  EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), kEach);
  EXPECT_EQ(overlaps.load(), 0);
}

TEST(SendThread, UnknownCodesAndJobThreeDoNothingButStillTakeTheSlot) {
  VirtualClock clock;
  FakeSerialPort port(&clock);
  TSendThread send(&port, clock);
  bool ran = false;
  send.RegisterJob(3, [&](TSendThread&, std::uint8_t) { ran = true; });
  send.RunJob(3, 0);
  send.RunJob(42, 0);
  EXPECT_FALSE(ran);
  EXPECT_TRUE(port.Writes().empty());
}

TEST(SendThread, ShutdownEndsARunningJobsPauseAtOnce) {
  SystemClock clock;
  FakeSerialPort port;
  TSendThread send(&port, clock);
  std::atomic<bool> started{false};
  send.RegisterJob(JobDownloadCode, [&](TSendThread& t, std::uint8_t) {
    started = true;
    t.Pause(60'000);
  });
  send.Start();
  send.PostJob(JobDownloadCode, 0);
  while (!started) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const auto before = std::chrono::steady_clock::now();
  send.TerminateAndJoin();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
  // A poster after shutdown is not held up.
  send.PostJob(JobDownloadCode, 0);
}

TEST(ReceiveThread, TheLoopHandsOverChunksStoredFromAnotherThread) {
  struct Counting : test::RecordingHandlers {
    void OnRequest(TRcvThread&) override { ++requests; }
    std::atomic<int> requests{0};
  };
  SystemClock clock;
  Counting handlers;
  TRcvThread rcv(nullptr, handlers, clock);
  rcv.Start();
  const std::string frame = LongPacket(0xC0, 0xFF, 1, false, "DL  ", "\x05" "ok");
  for (int i = 0; i < 3000; ++i) rcv.StoreChunk(frame);  // more than the ring holds
  for (int i = 0; i < 500 && handlers.requests < 3000; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  rcv.TerminateAndJoin();
  EXPECT_EQ(handlers.requests.load(), 3000);
}

}  // namespace
}  // namespace orderlink
