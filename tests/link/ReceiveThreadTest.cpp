#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "common/Clock.h"
#include "link/FrameCodec.h"
#include "link/ReceiveThread.h"
#include "support/FakeSerialPort.h"
#include "support/RecordingFrameSink.h"

namespace orderlink {
namespace {

using test::Hex;

class ReceiveFixture {
 public:
  ReceiveFixture() : thread(nullptr, sink, line, clock) {}
  void Feed(std::string_view bytes) {
    thread.StoreChunk(bytes);
    thread.HandleChunks();
  }
  VirtualClock clock;
  test::RecordingFrameSink sink;
  LineActivity line;
  ReceiveThread thread;
};

TEST(ReceiveThread, ChunksAreParsedInOrderWhereverTheyAreCut) {
  ReceiveFixture f;
  const std::string frame = LongPacket(0xC0, 0xFF, 1, false, "DL  ",
                                       "\x05"
                                       "ok");
  f.Feed(std::string_view(frame).substr(0, 7));
  f.Feed(std::string_view(frame).substr(7));
  EXPECT_EQ(f.sink.events, std::vector<std::string>{"request DL   5 ok"});
}

TEST(ReceiveThread, AChunkFromANewDeviceStartsTheParserAfresh) {
  ReceiveFixture f;
  const std::string frame = LongPacket(0xC0, 0xFF, 1, false, "DL  ",
                                       "\x05"
                                       "ok");
  f.Feed(std::string_view(frame).substr(0, 10));
  f.thread.ResetParserBeforeNextChunk();
  f.Feed(std::string_view(frame).substr(10));
  f.Feed(frame);
  EXPECT_EQ(f.sink.events, std::vector<std::string>{"request DL   5 ok"});
}

TEST(ReceiveThread, StationTransferLooksOnlyForTheAnswerSignature) {
  ReceiveFixture f;
  f.line.stationTransfer = true;
  f.Feed(Hex("FF AA 55 32 CD 00 00 00 C0") + LongPacket(0xC0, 0xFF, 1, false, "DL  ",
                                                        "\x05"
                                                        "ok"));
  EXPECT_EQ(f.line.stationAck.load(), 1);
  EXPECT_TRUE(f.sink.events.empty());
  f.Feed(Hex("FF AA 00 32 CD"));
  EXPECT_EQ(f.line.stationAck.load(), 0);
  f.Feed(Hex("FF AA 55 32 CD"));
  f.Feed(Hex("FF AA"));  // too short to be the answer
  EXPECT_EQ(f.line.stationAck.load(), 0);
}

TEST(ReceiveThread, AChunkThatOnlyBeginsLikeTheStationAnswerNeverReadsAsOne) {
  // The base-station dialogue reads stationAck on another thread while chunks are
  // judged; a chunk matching four of the five bytes must never show a 1 meanwhile.
  ReceiveFixture f;
  f.line.stationTransfer = true;
  std::atomic<bool> done{false};
  std::atomic<int> seenAck{0};
  std::thread dialogue([&] {
    while (!done) seenAck += f.line.stationAck.load();
  });
  for (int i = 0; i < 20000; ++i) f.Feed(Hex("FF AA 55 32 00"));
  done = true;
  dialogue.join();
  EXPECT_EQ(seenAck.load(), 0);
  EXPECT_EQ(f.line.stationAck.load(), 0);
}

TEST(ReceiveThread, EveryChunkAsksForQuietTime) {
  ReceiveFixture f;
  f.thread.HoldOff = 0;
  f.Feed("x");
  EXPECT_EQ(f.thread.HoldOff.load(), 1000);
}

TEST(ReceiveThread, EmptyChunkStoresNothing) {
  ReceiveFixture f;
  f.thread.StoreChunk("");
  EXPECT_EQ(f.thread.HandleChunks(), 0);
}

}  // namespace
}  // namespace orderlink
