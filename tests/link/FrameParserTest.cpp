#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "common/ActivityState.h"
#include "common/Clock.h"
#include "link/FrameCodec.h"
#include "link/LinkState.h"
#include "link/TRcvThread.h"
#include "support/FakeSerialPort.h"
#include "support/RecordingHandlers.h"

namespace orderlink {
namespace {

using test::Hex;
using test::RecordingHandlers;

// A request packet from a handset: address 0xFF, body = handset byte + payload.
std::string FromHandset(std::uint8_t route, std::uint8_t sequence, bool more, std::string_view code,
                        std::string_view body) {
  return LongPacket(route, 0xFF, sequence, more, code, body);
}

struct ParserCase {
  const char* name;
  std::string bytes;
  std::vector<std::string> events;
};

std::vector<ParserCase> Cases() {
  return {
      {"header-only time query", Hex("00 00 00 C1 02 07 FF 01 00 53 4A 43 58"), {"time 0"}},
      {"one-packet request", FromHandset(0xC0, 1, false, "DC  ", "\x07" "ABCD"),
       {"request DC   7 ABCD"}},
      {"two-packet request",
       FromHandset(0xC0, 1, true, "DC  ", "\x07" "AB") + FromHandset(0xC0, 2, false, "DC  ", "CD"),
       {"request DC   7 ABCD"}},
      {"second packet out of sequence",
       FromHandset(0xC0, 1, true, "DC  ", "\x07" "AB") + FromHandset(0xC0, 3, false, "DC  ", "CD"),
       {}},
      {"second packet with another command",
       FromHandset(0xC0, 1, true, "DC  ", "\x07" "AB") + FromHandset(0xC0, 2, false, "TC  ", "CD"),
       {}},
      {"frame for another address", LongPacket(0xC0, 0x05, 1, false, "DC  ", "\x07" "ABCD"), {}},
      {"CRC frame", FromHandset(0xC0, 1, false, "CRC1", "\x07" "ABCD"), {}},
      {"short frame is skipped", Hex("01 09") + FromHandset(0xC0, 1, false, "DL  ", "\x03" "x"),
       {"request DL   3 x"}},
      {"poll echo is skipped", PollFrame(9) + FromHandset(0xC0, 1, false, "DL  ", "\x03" "x"),
       {"request DL   3 x"}},
      {"three zeros inside a body abandon the frame",
       Hex("00 00 00 C0 02 0C FF 01 00 44 43 20 20 07 41 00 00 00 C2") +
           FromHandset(0xC3, 1, false, "DL  ", "\x04" "y"),
       {"request DL   4 y"}},
      {"garbage before a frame", Hex("55 AA 03 02 06 00") + FromHandset(0xC0, 1, false, "XZWC", "\x02"),
       {"result XZWC 2 "}},
      {"hand-overs by command",
       FromHandset(0xC0, 1, false, "TXCS", "\x0C" "ZZ") + FromHandset(0xC0, 1, false, "XZSB", "\x0D") +
           FromHandset(0xC0, 1, false, "XZCC", "\x0E" "0000100002"),
       {"test TXCS 12 ZZ", "result XZSB 13 ", "resend XZCC 14 0000100002"}},
  };
}

class ParserFixture {
 public:
  ParserFixture() : thread(nullptr, handlers, clock) {}
  void Feed(std::string_view bytes) {
    thread.StoreChunk(bytes);
    thread.HandleChunks();
  }
  VirtualClock clock;
  RecordingHandlers handlers;
  TRcvThread thread;
};

TEST(Parser, EveryCaseFedWholeByteByByteAndSplitAtEveryOffset) {
  for (const auto& c : Cases()) {
    {
      ParserFixture f;
      f.Feed(c.bytes);
      EXPECT_EQ(f.handlers.events, c.events) << c.name << " (whole)";
    }
    {
      ParserFixture f;
      for (char b : c.bytes) f.Feed(std::string_view(&b, 1));
      EXPECT_EQ(f.handlers.events, c.events) << c.name << " (byte by byte)";
    }
    for (std::size_t cut = 1; cut < c.bytes.size(); ++cut) {
      ParserFixture f;
      f.Feed(std::string_view(c.bytes).substr(0, cut));
      f.Feed(std::string_view(c.bytes).substr(cut));
      EXPECT_EQ(f.handlers.events, c.events) << c.name << " (split at " << cut << ")";
    }
  }
}

TEST(Parser, AllCasesJoinedGiveAllEventsInOrder) {
  ParserFixture f;
  std::vector<std::string> expected;
  for (const auto& c : Cases()) {
    f.Feed(c.bytes);
    expected.insert(expected.end(), c.events.begin(), c.events.end());
  }
  // The time query reads buffer byte 0 left by the frame before it; when joined the
  // first case comes first, so the handset is still 0.
  EXPECT_EQ(f.handlers.events, expected);
}

TEST(Parser, RouteByteIsTheFirstNonZeroByteAfterThePreamble) {
  ParserFixture f;
  f.Feed(Hex("00 00 00 C1 02 07 FF 01 00 53 4A 43 58"));
  EXPECT_EQ(RouteByte.load(), 0xC1);
  f.Feed(Hex("00 00 00 00 00 C5"));
  EXPECT_EQ(RouteByte.load(), 0xC5);
  RouteByte = kDefaultRoute;
}

TEST(Parser, TimeQueryAnswersTheHandsetOfTheLastFrameWithContent) {
  ParserFixture f;
  f.Feed(FromHandset(0xC0, 1, false, "DL  ", "\x09" "x"));
  f.Feed(Hex("00 00 00 C0 02 07 FF 01 00 53 4A 43 58"));
  EXPECT_EQ(f.handlers.events.back(), "time 9");
  EXPECT_EQ(f.handlers.lastState, "state =STATE_RCV_CONTENT");
}

TEST(Parser, DiscardedPacketsAreReportedAtTheirHeaderAndAtTheEndOfTheMessage) {
  ParserFixture f;
  f.Feed(FromHandset(0xC0, 1, false, "CRC ", "\x07" "AB"));
  EXPECT_EQ(f.handlers.discarded, 2);
  f.Feed(LongPacket(0xC0, 0x03, 1, true, "DC  ", "\x07" "AB"));
  EXPECT_EQ(f.handlers.discarded, 3);  // more = 1: only the header
  EXPECT_TRUE(f.handlers.events.empty());
}

TEST(Parser, ARunOfPacketsPastTheMessageBufferStopsAtItsEndAndTheParserGoesOn) {
  // Packets of a discarded message (another address) keep appending their bodies
  // while more = 1 and no sequence 1 for the PC restarts the message.
  ParserFixture f;
  const std::string body(248, 'x');  // the largest body a length byte allows
  const int packets = TRcvThread::kMessageBufferSize / 248 + 10;
  for (int i = 0; i < packets; ++i) {
    f.Feed(LongPacket(0xC0, 0x05, static_cast<std::uint8_t>(i + 1), true, "DC  ", body));
  }
  EXPECT_EQ(f.thread.ContentPos(), TRcvThread::kMessageBufferSize);
  f.Feed(FromHandset(0xC0, 1, false, "DL  ", "\x05" "ok"));
  EXPECT_EQ(f.handlers.events, std::vector<std::string>{"request DL   5 ok"});
}

TEST(Parser, StationTransferLooksOnlyForTheAnswerSignature) {
  ParserFixture f;
  StationTransfer = true;
  f.Feed(Hex("FF AA 55 32 CD 00 00 00 C0") + FromHandset(0xC0, 1, false, "DL  ", "\x05" "ok"));
  EXPECT_EQ(StationAck.load(), 1);
  EXPECT_TRUE(f.handlers.events.empty());
  f.Feed(Hex("FF AA 00 32 CD"));
  EXPECT_EQ(StationAck.load(), 0);
  f.Feed(Hex("FF AA 55 32 CD"));
  f.Feed(Hex("FF AA"));  // too short to be the answer
  EXPECT_EQ(StationAck.load(), 0);
  StationTransfer = false;
  StationAck = 0;
}

TEST(Parser, AChunkThatOnlyBeginsLikeTheStationAnswerNeverReadsAsOne) {
  // The base-station dialogue reads StationAck on another thread while chunks are
  // judged; a chunk matching four of the five bytes must never show a 1 meanwhile.
  ParserFixture f;
  StationTransfer = true;
  StationAck = 0;
  std::atomic<bool> done{false};
  std::atomic<int> seenAck{0};
  std::thread dialogue([&] {
    while (!done) seenAck += StationAck.load();
  });
  for (int i = 0; i < 20000; ++i) f.Feed(Hex("FF AA 55 32 00"));
  done = true;
  dialogue.join();
  StationTransfer = false;
  EXPECT_EQ(seenAck.load(), 0);
  EXPECT_EQ(StationAck.load(), 0);
}

TEST(Parser, EveryChunkAsksForQuietTime) {
  ParserFixture f;
  f.thread.HoldOff = 0;
  f.Feed("x");
  EXPECT_EQ(f.thread.HoldOff.load(), 1000);
}

TEST(Parser, EmptyChunkStoresNothing) {
  ParserFixture f;
  f.thread.StoreChunk("");
  EXPECT_EQ(f.thread.HandleChunks(), 0);
}

}  // namespace
}  // namespace orderlink
