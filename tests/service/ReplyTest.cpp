#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <iostream>
#include <thread>

#include "ServiceFakes.h"
#include "common/Clock.h"
#include "common/TextFile.h"
#include "link/HandsetPoller.h"
#include "link/SerialPort.h"
#include "service/ReplyDelivery.h"
#include "support/LogCapture.h"

namespace orderlink {
namespace {

using test::Hex;
using test::ToHex;

class ReplyTest : public test::ServiceRig {
 protected:
  void SetUp() override { line.replyRoute = 0xC1; }  // as left by the handset's request

  void WriteReply(const std::string& name, const std::string& content) {
    ASSERT_TRUE(WriteFileBytes(dir.Txt(name), content));
  }
  // Runs job 1 as the send thread would; returns the writes as (ms after start, hex).
  std::vector<std::pair<std::int64_t, std::string>> RunReply() {
    const std::int64_t start = clock.NowMs();
    send.Run(service.ReplyWork());
    std::vector<std::pair<std::int64_t, std::string>> out;
    for (const auto& w : port.Writes()) out.emplace_back(w.atMs - start, ToHex(w.bytes));
    return out;
  }
};

using Writes = std::vector<std::pair<std::int64_t, std::string>>;

TEST_F(ReplyTest, NonEmptyLinesGoOutUnderTheHeaderCode150MsApartThenEnd) {
  service.ConnectLine(send, line);
  WriteReply("R1.txt", "KT   012\r\nOK\r\n\r\nTable A012\r\n");
  EXPECT_EQ(RunReply(), (Writes{
                            {100, ToHex(Hex("00 00 00 C1 02 09 0C 01 00") + "KT  OK")},
                            {250, ToHex(Hex("00 00 00 C1 02 11 0C 01 00") + "KT  Table A012")},
                            {400, ToHex(Hex("00 00 00 C1 02 07 0C 01 00") + "FHJS")},
                        }));
  EXPECT_EQ(line.replyRoute.load(), kDefaultRoute);
  EXPECT_EQ(send.HoldOff.load(), 100);
}

TEST_F(ReplyTest, HeaderOnlySendsOnlyTheEndMessage) {
  service.ConnectLine(send, line);
  WriteReply("r1.TXT", "DX   300\n");  // any spelling; 300 is handset 44 on the line
  EXPECT_EQ(RunReply(), (Writes{{100, ToHex(Hex("00 00 00 C1 02 07 2C 01 00") + "FHJS")}}));
}

TEST_F(ReplyTest, LongLineIsCutIntoPacketsOfOneMessage) {
  service.ConnectLine(send, line);
  WriteReply("R1.txt", "DX     5\r\n" + std::string(120, 'a') + "\r\n");
  const std::string head = "00 00 00 C1 02 ";
  EXPECT_EQ(RunReply(), (Writes{
                            {100, ToHex(Hex(head + "3D 05 01 01") + "DX  " + std::string(54, 'a'))},
                            {250, ToHex(Hex(head + "3D 05 02 01") + "DX  " + std::string(54, 'a'))},
                            {400, ToHex(Hex(head + "13 05 03 00") + "DX  " + std::string(12, 'a'))},
                            {550, ToHex(Hex(head + "07 05 01 00") + "FHJS")},
                        }));
}

TEST_F(ReplyTest, RollCallHeaderSendsRollCallFramesOnly) {
  service.ConnectLine(send, line);
  WriteReply("R1.txt", "DM   009\r\n0123456789\r\n");
  EXPECT_EQ(RunReply(), (Writes{{100, "00 00 00 01 09"},
                                {250, ToHex(Hex("00 00 00 C1 02 07 09 01 00") + "FHJS")}}));
}

TEST_F(ReplyTest, MissingFileOrUnreadableHeaderSendsNothingAndTheThreadGoesOn) {
  service.ConnectLine(send, line);
  EXPECT_TRUE(RunReply().empty());
  for (const std::string header : {"KT   0x2", "KT   1 2", "KT   ", "KT", ""}) {
    SCOPED_TRACE(header);
    WriteReply("R1.txt", header + "\r\nOK\r\n");
    EXPECT_TRUE(RunReply().empty());
  }
  WriteReply("R1.txt", "KT    7 \r\nOK\r\n");  // blanks around the digits are fine
  EXPECT_EQ(RunReply().size(), 2u);
}

TEST_F(ReplyTest, LinesTooLongToNumberTheirPacketsAreReportedAndTheRestGoesOn) {
  service.ConnectLine(send, line);
  const std::string longest(54 * 255, 'a');  // 255 packets: the most a message can number
  WriteReply("R1.txt", "KT   012\r\n" + longest + "a\r\nOK\r\n" + longest + "\r\n");
  testing::internal::CaptureStderr();
  const auto writes = RunReply();
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("R1.txt line 2: 13771 bytes need 256 packets"), std::string::npos) << log;
  ASSERT_EQ(writes.size(), 1u + 255u + 1u);
  EXPECT_EQ(writes[0].first, 100);
  EXPECT_EQ(writes[0].second, ToHex(Hex("00 00 00 C1 02 09 0C 01 00") + "KT  OK"));
  // Packet 255 of the longest line that can go is its last.
  EXPECT_EQ(writes[255].second.substr(0, 26), "00 00 00 C1 02 3D 0C FF 00");
  EXPECT_EQ(writes.back().second, ToHex(Hex("00 00 00 C1 02 07 0C 01 00") + "FHJS"));
}

TEST_F(ReplyTest, AReplyHoldingTheLineOverAMinuteOrLargerThanTheReadLimitSendsNothingAndSaysWhy) {
  service.ConnectLine(send, line);
  testing::internal::CaptureStderr();
  // 100 ms, a line of 255 packets, one of 68, "FHJS": pauses of 48.55 s and 21,654
  // bytes at 0.52 ms, 59.83 s in all.
  const std::string head = "KT   012\r\n" + std::string(255 * 54, 'a') + "\r\n";
  WriteReply("R1.txt", head + std::string(68 * 54, 'b') + "\r\n");
  EXPECT_EQ(RunReply().size(), 255u + 68u + 1u);
  EXPECT_TRUE(messages.Notices().empty());

  // One packet more: 150 ms and 67 bytes, 60.02 s.
  port.ClearWrites();
  WriteReply("R1.txt", head + std::string(69 * 54, 'b') + "\r\n");
  EXPECT_TRUE(RunReply().empty());
  EXPECT_EQ(send.HoldOff.load(), 100);
  const std::string tooLong = "回复没有发出：R1.txt有" + std::to_string(10 + 13772 + 3728) +
                              "字节，发出要占用线路60.1秒，超过了一次回复最多60秒的限度。"
                              "请检查点菜软件写出的回复。";
  // Far past the read limit: refused by its size, whatever its lines would take.
  WriteReply("R1.txt", "KT   012\r\n" + std::string(10'000'000, 'c'));
  EXPECT_TRUE(RunReply().empty());
  const std::string tooLarge =
      "回复没有发出：R1.txt有10000010字节，超过了回复文件最多65536字节的限度（一次回复最多"
      "占用线路60秒）。请检查点菜软件写出的回复。";
  EXPECT_EQ(messages.Notices(), (std::vector<std::string>{tooLong, tooLarge}));
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("R1.txt: 17510 bytes, would hold the line 60.1 s, more than 60 s; the reply "
                     "is not sent"),
            std::string::npos)
      << log;
}

class HostReplyTest : public ReplyTest {
 protected:
  void SetUp() override {
    ReplyTest::SetUp();
    service.ConnectLine(send, line);
    WriteReply("R1.txt", "KT   012\r\nOK\r\n");
  }
  void TearDown() override {
    holder.Release();
    send.TerminateAndJoin();
    ReplyTest::TearDown();
  }
  // End-of-reply frames to handset 12, whatever their route byte.
  std::size_t FhjsFrames() const {
    std::size_t count = 0;
    for (const auto& w : port.Writes()) {
      count += w.bytes.size() == 13 && w.bytes.substr(4) == Hex("02 07 0C 01 00") + "FHJS";
    }
    return count;
  }

  HandsetPoller poller{send, rcv};
  test::LineHolder holder{send};
};

TEST_F(HostReplyTest, PostsTheJobAndClearsBothHoldOffsTenMillisecondsLaterWithoutSleeping) {
  send.Start();
  rcv.HoldOff = 15000;
  send.HoldOff = 15000;
  service.OnHostReply(&send, &poller);
  ASSERT_TRUE(test::WaitIdle(send));
  EXPECT_EQ(rcv.HoldOff.load(), 15000);  // the request's quiet holds until the delayed step
  EXPECT_EQ(timers.Delays(), std::vector<std::int64_t>{10});
  EXPECT_EQ(clock.Sleeps(), (std::vector<std::int64_t>{100, 150}));  // the job's pauses only
  timers.RunAll();
  EXPECT_EQ(rcv.HoldOff.load(), 0);
  EXPECT_EQ(send.HoldOff.load(), 0);
  EXPECT_EQ(FhjsFrames(), 1u);

  // Without a send thread the hold-offs are still cleared.
  rcv.HoldOff = 15000;
  service.OnHostReply(nullptr, &poller);
  timers.RunAll();
  EXPECT_EQ(rcv.HoldOff.load(), 0);
}

TEST_F(HostReplyTest, NoticesWhileTheReplyWaitsAreMergedIntoItWithoutHoldingTheWindow) {
  send.Start();
  ASSERT_TRUE(holder.Hold());
  test::LogCapture log;
  EXPECT_TRUE(holder.ReturnsWhileHeld([this] {
    for (int i = 0; i < 200; ++i) service.OnHostReply(&send, &poller);
  }));
  EXPECT_EQ(FhjsFrames(), 0u);
  EXPECT_EQ(timers.Pending(), 1u);  // one clear of the hold-offs serves the burst
  holder.Release();
  ASSERT_TRUE(test::WaitIdle(send));
  EXPECT_EQ(FhjsFrames(), 1u);  // the file, delivered once for the whole burst
  EXPECT_EQ(log.Containing("199 further reply notices came while the reply waited").size(), 1u);

  // A notice after the reply has started is a reply of its own.
  service.OnHostReply(&send, &poller);
  ASSERT_TRUE(test::WaitIdle(send));
  EXPECT_EQ(FhjsFrames(), 2u);
  EXPECT_TRUE(messages.Messages().empty());
  EXPECT_TRUE(messages.Notices().empty());
}

TEST_F(HostReplyTest, RepliesBeforeTheSendThreadRunsAreLoggedAndNeverWaitedFor) {
  // As at start-up while a message box is open: the send thread has not started.
  testing::internal::CaptureStderr();
  EXPECT_TRUE(holder.ReturnsWhileHeld([this] {
    service.OnHostReply(&send, &poller);
    service.OnHostReply(&send, &poller);
  }));
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("reply for handset 0 is not sent"), std::string::npos) << log;
  EXPECT_TRUE(messages.Messages().empty());
  EXPECT_TRUE(port.Writes().empty());
}

TEST_F(HostReplyTest, RefusalsOfAFullQueueAreShownOnceABurstAsANotice) {
  service.AddHandset("003");
  service.AddHandset("012");
  WriteReply("DX.txt", "003 012 hi\r\n");
  send.Start();
  ASSERT_TRUE(holder.Hold());
  for (std::size_t i = 0; i < SendThread::kQueueCapacity; ++i) {
    ASSERT_TRUE(send.Post({"queued job", 1, [](SendThread&) {}}));
  }
  testing::internal::CaptureStderr();
  for (int i = 0; i < 100; ++i) {
    service.OnHostReply(&send, &poller);
    service.OnHostShortMessage(&send);
  }
  (void)testing::internal::GetCapturedStderr();
  const std::vector<std::string> once{std::string(kReplyNotQueued),
                                      std::string(kShortMessageNotQueued)};
  EXPECT_EQ(messages.Notices(), once);
  EXPECT_TRUE(messages.Messages().empty());  // never a box: boxes nest their event loops
}

// Delayed calls on threads of their own after real time: the window thread's timers
// as the line sees them.
class RealTimeTimers final : public WindowTimers {
 public:
  ~RealTimeTimers() override {
    for (auto& t : threads_) t.join();
  }
  void After(std::int64_t ms, std::function<void()> call) override {
    threads_.emplace_back([ms, call = std::move(call)] {
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
      call();
    });
  }

 private:
  std::vector<std::thread> threads_;
};

// What arrives at the far end of the line, each byte with the time it was read.
class LineRecorder {
 public:
  explicit LineRecorder(int fd) : fd_(fd), reader_([this] { Read(); }) {}
  ~LineRecorder() { Stop(); }
  void Stop() {
    done_ = true;
    if (reader_.joinable()) reader_.join();
  }
  // Milliseconds from the end of each `frame` to the start of the next `next`.
  std::vector<std::int64_t> GapsAfter(const std::string& frame, const std::string& next) const {
    std::vector<std::int64_t> gaps;
    for (auto at = bytes_.find(frame); at != std::string::npos; at = bytes_.find(frame, at + 1)) {
      const auto end = at + frame.size() - 1;
      const auto following = bytes_.find(next, end + 1);
      if (following == std::string::npos) break;
      gaps.push_back(
          std::chrono::duration_cast<std::chrono::milliseconds>(times_[following] - times_[end])
              .count());
    }
    return gaps;
  }

 private:
  void Read() {
    char buffer[512];
    while (!done_) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      const ssize_t n = read(fd_, buffer, sizeof buffer);
      const auto now = std::chrono::steady_clock::now();
      for (ssize_t i = 0; i < n; ++i) {
        bytes_ += buffer[i];
        times_.push_back(now);
      }
    }
  }
  int fd_;
  std::atomic<bool> done_{false};
  std::string bytes_;
  std::vector<std::chrono::steady_clock::time_point> times_;
  std::thread reader_;
};

TEST(ReplyOnTheLine, TheLineStaysQuietAfterEveryEndOfReplyForTheReplysHoldOff) {
  // Real threads, the real poll timer and the termios port on a pty pair: the
  // window clears the hold-offs while the reply job pauses before its first line,
  // and the poller must still not poll until the reply's hold-off of 100 ms is over.
  test::PtyPair pty;
  std::string error;
  auto port = OpenSerialPort(pty.SlavePath(), &error);
  ASSERT_NE(port, nullptr) << error;
  test::TempAppDir dir;
  dir.WriteLines("R1.txt", {"KT   001", "OK"});
  test::RecordingHostLink host;
  test::RecordingMessages messages;
  RealTimeTimers timers;
  SystemClock clock;
  RequestService service{TxtDir(dir.Path()), host, messages, timers, nullptr, clock, {}};
  SendThread send{port.get(), clock};
  LineActivity activity;
  LinkHandlers handlers{activity};
  ReceiveThread rcv{port.get(), handlers, activity, clock};
  handlers.request = [&](const Message& m) { service.OnRequest(m, rcv); };
  handlers.timeQuery = [&](const Message& m) { service.OnTimeQuery(m); };
  HandsetPoller poller{send, rcv};
  poller.Add(1);
  service.ConnectLine(send, activity);
  LineRecorder line(pty.Master());
  send.Start();
  poller.Start(15);

  constexpr int kReplies = 6;
  for (int i = 0; i < kReplies; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(150 + 37 * i));  // polls run meanwhile
    service.OnHostReply(&send, &poller);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(test::WaitIdle(send));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  poller.Stop();
  send.TerminateAndJoin();
  line.Stop();

  const auto gaps =
      line.GapsAfter(Hex("00 00 00 C0 02 07 01 01 00") + "FHJS", Hex("00 00 00 C0 01 01"));
  ASSERT_EQ(gaps.size(), static_cast<std::size_t>(kReplies));
  for (std::size_t i = 0; i < gaps.size(); ++i) {
    std::cerr << "reply " << i + 1 << ": first poll " << gaps[i] << " ms after FHJS\n";
    EXPECT_GE(gaps[i], 100) << "reply " << i + 1;
  }
}

}  // namespace
}  // namespace orderlink
