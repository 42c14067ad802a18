#include <gtest/gtest.h>

#include "link/FrameCodec.h"
#include "link/FrameParser.h"
#include "support/FakeSerialPort.h"
#include "support/RecordingFrameSink.h"

namespace orderlink {
namespace {

using test::Hex;
using test::RecordingFrameSink;

// A request packet from a handset: address 0xFF, body = handset byte + payload.
std::string FromHandset(std::uint8_t route, std::uint8_t sequence, bool more, std::string_view code,
                        std::string_view body) {
  return LongPacket(route, 0xFF, sequence, more, code, body);
}

struct Outcome {
  std::vector<std::string> events;
  int discarded = 0;
  int route = -1;  // the last route byte seen; -1: none
  bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Outcome& o) {
  out << "{";
  for (const auto& e : o.events) out << "[" << e << "] ";
  return out << "discarded " << o.discarded << ", route " << o.route << "}";
}

struct ParserCase {
  const char* name;
  std::string bytes;
  Outcome expected;
};

std::vector<ParserCase> Cases() {
  return {
      {"header-only time query",
       Hex("00 00 00 C1 02 07 FF 01 00 53 4A 43 58"),
       {{"time 0"}, 0, 0xC1}},
      {"one-packet request",
       FromHandset(0xC0, 1, false, "DC  ",
                   "\x07"
                   "ABCD"),
       {{"request DC   7 ABCD"}, 0, 0xC0}},
      {"two-packet request",
       FromHandset(0xC0, 1, true, "DC  ",
                   "\x07"
                   "AB") +
           FromHandset(0xC2, 2, false, "DC  ", "CD"),
       {{"request DC   7 ABCD"}, 0, 0xC2}},
      {"second packet out of sequence",
       FromHandset(0xC0, 1, true, "DC  ",
                   "\x07"
                   "AB") +
           FromHandset(0xC0, 3, false, "DC  ", "CD"),
       {{}, 2, 0xC0}},
      {"second packet with another command",
       FromHandset(0xC0, 1, true, "DC  ",
                   "\x07"
                   "AB") +
           FromHandset(0xC0, 2, false, "TC  ", "CD"),
       {{}, 2, 0xC0}},
      {"a packet with sequence 2 after a finished message continues nothing",
       FromHandset(0xC0, 1, false, "DC  ",
                   "\x07"
                   "AB") +
           FromHandset(0xC0, 2, false, "DC  ", "CD"),
       {{"request DC   7 AB"}, 2, 0xC0}},
      {"a message whose first packet was lost is dropped, the whole one after it is not",
       FromHandset(0xC0, 1, false, "DC  ",
                   "\x07"
                   "AB") +
           FromHandset(0xC0, 2, true, "DC  ",
                       "\x07"
                       "CD") +
           FromHandset(0xC0, 3, false, "DC  ", "EF") +
           FromHandset(0xC1, 1, false, "DC  ",
                       "\x08"
                       "GH"),
       {{"request DC   7 AB", "request DC   8 GH"}, 3, 0xC1}},
      {"a packet cut off by three zero bytes closes its message",
       FromHandset(0xC0, 1, true, "DC  ",
                   "\x07"
                   "AB") +
           Hex("00 00 00 C0 02 0B FF 02 01 44 43 20 20 43 00 00 00 C2") +
           FromHandset(0xC3, 3, false, "DC  ", "EF"),
       {{}, 2, 0xC3}},
      {"frame for another address",
       LongPacket(0xC0, 0x05, 1, false, "DC  ",
                  "\x07"
                  "ABCD"),
       {{}, 2, 0xC0}},
      {"packet for another address with more to come: only its header is reported",
       LongPacket(0xC0, 0x03, 1, true, "DC  ",
                  "\x07"
                  "AB"),
       {{}, 1, 0xC0}},
      {"CRC frame",
       FromHandset(0xC0, 1, false, "CRC1",
                   "\x07"
                   "ABCD"),
       {{}, 2, 0xC0}},
      {"header-only time query for another address is not answered",
       Hex("00 00 00 C4 02 07 05 01 00 53 4A 43 58"),
       {{}, 1, 0xC4}},
      {"time query answers the handset of the last message with a body",
       FromHandset(0xC0, 1, false, "DL  ",
                   "\x09"
                   "x") +
           Hex("00 00 00 C0 02 07 FF 01 00 53 4A 43 58"),
       {{"request DL   9 x", "time 9"}, 0, 0xC0}},
      {"SJCX with a body goes to the request dispatch",
       FromHandset(0xC0, 1, true, "SJCX",
                   "\x06"
                   "a") +
           FromHandset(0xC0, 2, false, "SJCX", "b"),
       {{"request SJCX 6 ab"}, 0, 0xC0}},
      {"short frame is skipped",
       Hex("01 09") + FromHandset(0xC0, 1, false, "DL  ",
                                  "\x03"
                                  "x"),
       {{"request DL   3 x"}, 0, 0xC0}},
      {"poll echo is skipped",
       PollFrame(9) + FromHandset(0xC0, 1, false, "DL  ",
                                  "\x03"
                                  "x"),
       {{"request DL   3 x"}, 0, 0xC0}},
      {"three zeros inside a body abandon the frame",
       Hex("00 00 00 C0 02 0C FF 01 00 44 43 20 20 07 41 00 00 00 C2") + FromHandset(0xC3, 1, false,
                                                                                     "DL  ",
                                                                                     "\x04"
                                                                                     "y"),
       {{"request DL   4 y"}, 0, 0xC3}},
      {"route byte is the first non-zero byte after a longer preamble",
       Hex("00 00 00 00 00 C5"),
       {{}, 0, 0xC5}},
      {"garbage before a frame",
       Hex("55 AA 03 02 06 00") + FromHandset(0xC0, 1, false, "XZWC", "\x02"),
       {{"result XZWC 2 "}, 0, 0xC0}},
      {"hand-overs by command",
       FromHandset(0xC0, 1, false, "TXCS",
                   "\x0C"
                   "ZZ") +
           FromHandset(0xC0, 1, false, "XZSB", "\x0D") +
           FromHandset(0xC0, 1, false, "XZCC",
                       "\x0E"
                       "0000100002"),
       {{"test TXCS 12 ZZ", "result XZSB 13 ", "resend XZCC 14 0000100002"}, 0, 0xC0}},
  };
}

class Parsed {
 public:
  Parsed() : parser(sink) {}
  [[nodiscard]] Outcome Result() const { return {sink.events, sink.discarded, sink.lastRoute}; }
  RecordingFrameSink sink;
  FrameParser parser;
};

TEST(FrameParser, EveryCaseFedWholeByteByByteAndSplitAtEveryOffset) {
  for (const auto& c : Cases()) {
    {
      Parsed p;
      p.parser.Push(c.bytes);
      EXPECT_EQ(p.Result(), c.expected) << c.name << " (whole)";
    }
    {
      Parsed p;
      for (char b : c.bytes) p.parser.Push(static_cast<std::uint8_t>(b));
      EXPECT_EQ(p.Result(), c.expected) << c.name << " (byte by byte)";
    }
    for (std::size_t cut = 1; cut < c.bytes.size(); ++cut) {
      Parsed p;
      p.parser.Push(std::string_view(c.bytes).substr(0, cut));
      p.parser.Push(std::string_view(c.bytes).substr(cut));
      EXPECT_EQ(p.Result(), c.expected) << c.name << " (split at " << cut << ")";
    }
  }
}

TEST(FrameParser, AllCasesJoinedGiveAllEventsInOrder) {
  Parsed p;
  Outcome expected;
  for (const auto& c : Cases()) {
    p.parser.Push(c.bytes);
    expected.events.insert(expected.events.end(), c.expected.events.begin(),
                           c.expected.events.end());
    expected.discarded += c.expected.discarded;
    expected.route = c.expected.route;
  }
  // The time query reads the handset byte left by the message before it; when joined
  // the first case comes first, so the handset is still 0.
  EXPECT_EQ(p.Result(), expected);
}

// Counts what the parser reports to the sink besides messages.
class DiscardRecordingSink : public RecordingFrameSink {
 public:
  void OnDiscard(DiscardReason reason) override { ++told[static_cast<std::size_t>(reason)]; }
  DiscardCounts told{};
};

TEST(FrameParser, EveryDropIsCountedUnderItsReasonFedWholeAndByteByByte) {
  using R = DiscardReason;
  struct Row {
    R reason;
    std::string bytes;
    std::vector<std::pair<R, std::uint64_t>> counted;  // every non-zero count
  };
  const std::string first = FromHandset(0xC0, 1, true, "DC  ",
                                        "\x07"
                                        "AB");
  // Bodies past the buffer: packets of a message for another handset, more = 1.
  std::string overLong;
  const int overLongPackets = FrameParser::kMessageBufferSize / 248 + 1;
  for (int i = 0; i < overLongPackets; ++i) {
    overLong += LongPacket(0xC0, 0x05, static_cast<std::uint8_t>(i + 1), true, "DC  ",
                           std::string(248, 'x'));
  }
  const std::vector<Row> rows = {
      {R::CutOffByPreamble,
       Hex("00 00 00 C0 02 0C FF 01 00 44 43 20 20 07 41 00 00 00 C2"),
       {{R::CutOffByPreamble, 1}}},
      {R::WrongAddress,
       LongPacket(0xC0, 0x05, 1, false, "DC  ",
                  "\x07"
                  "AB"),
       {{R::WrongAddress, 1}}},
      {R::CrcNotice,
       FromHandset(0xC0, 1, false, "CRC1",
                   "\x07"
                   "AB"),
       {{R::CrcNotice, 1}}},
      {R::ContinuesNoMessage,
       FromHandset(0xC0, 2, false, "DC  ", "CD"),
       {{R::ContinuesNoMessage, 1}}},
      {R::RestOfDroppedMessage,
       FromHandset(0xC0, 2, true, "DC  ", "CD") + FromHandset(0xC0, 3, false, "DC  ", "EF"),
       {{R::ContinuesNoMessage, 1}, {R::RestOfDroppedMessage, 1}}},
      {R::OutOfSequence,
       first + FromHandset(0xC0, 3, false, "DC  ", "CD"),
       {{R::OutOfSequence, 1}}},
      {R::CommandChanged,
       first + FromHandset(0xC0, 2, false, "TC  ", "CD"),
       {{R::CommandChanged, 1}}},
      {R::LeftOpen,
       first + FromHandset(0xC0, 1, false, "DC  ",
                           "\x08"
                           "CD"),
       {{R::LeftOpen, 1}}},
      {R::OverLong,
       overLong,
       {{R::WrongAddress, static_cast<std::uint64_t>(overLongPackets)}, {R::OverLong, 1}}},
      {R::HeaderOnly, Hex("00 00 00 C0 02 07 FF 01 00 44 43 20 20"), {{R::HeaderOnly, 1}}},
      {R::UnknownCode,
       FromHandset(0xC0, 1, false, "ABCD",
                   "\x07"
                   "AB"),
       {{R::UnknownCode, 1}}},
  };
  ASSERT_EQ(rows.size(), kDiscardReasonCount) << "one row per reason";
  for (const Row& row : rows) {
    DiscardCounts expected{};
    for (const auto& [reason, count] : row.counted)
      expected[static_cast<std::size_t>(reason)] = count;
    const std::string name(DiscardReasonText(row.reason));
    for (const bool byteByByte : {false, true}) {
      DiscardRecordingSink sink;
      FrameParser parser(sink);
      if (byteByByte) {
        for (char b : row.bytes) parser.Push(static_cast<std::uint8_t>(b));
      } else {
        parser.Push(row.bytes);
      }
      EXPECT_EQ(parser.Discards().Read(), expected)
          << name << (byteByByte ? " (byte by byte)" : "");
      EXPECT_EQ(sink.told, expected) << name << ": the sink is told each drop";
    }
  }
}

TEST(FrameParser, MessagesCarryTheRouteByteOfTheirLastPacket) {
  struct Routes : FrameSink {
    void OnMessage(const Message& m) override { routes.push_back(m.route); }
    std::vector<int> routes;
  } sink;
  FrameParser parser(sink);
  parser.Push(FromHandset(0xC1, 1, true, "DC  ",
                          "\x07"
                          "AB") +
              FromHandset(0xC2, 2, false, "DC  ", "CD"));
  parser.Push(Hex("00 00 00 C3 02 07 FF 01 00 53 4A 43 58"));
  EXPECT_EQ(sink.routes, (std::vector<int>{0xC2, 0xC3}));
}

TEST(FrameParser, ARunOfPacketsPastTheMessageBufferStopsAtItsEndAndTheParserGoesOn) {
  // Packets of a discarded message (another address) keep appending their bodies
  // while more = 1 and no sequence 1 for the PC restarts the message.
  Parsed p;
  const std::string body(248, 'x');  // the largest body a length byte allows
  const int packets = FrameParser::kMessageBufferSize / 248 + 10;
  for (int i = 0; i < packets; ++i) {
    p.parser.Push(LongPacket(0xC0, 0x05, static_cast<std::uint8_t>(i + 1), true, "DC  ", body));
  }
  EXPECT_EQ(p.parser.StoredBodyBytes(), FrameParser::kMessageBufferSize);
  p.parser.Push(FromHandset(0xC0, 1, false, "DL  ",
                            "\x05"
                            "ok"));
  EXPECT_EQ(p.sink.events, std::vector<std::string>{"request DL   5 ok"});
}

TEST(FrameParser, ResetDropsAFrameCutOffHalfway) {
  Parsed p;
  const std::string frame = FromHandset(0xC0, 1, false, "DL  ",
                                        "\x05"
                                        "ok");
  p.parser.Push(FromHandset(0xC0, 1, false, "DL  ",
                            "\x09"
                            "x"));
  p.parser.Push(std::string_view(frame).substr(0, 10));
  p.parser.Reset();
  p.parser.Push(std::string_view(frame).substr(10));  // the rest alone is no frame
  p.parser.Push(Hex("00 00 00 C0 02 07 FF 01 00 53 4A 43 58"));
  // After a reset a time query no longer answers the handset of earlier messages.
  EXPECT_EQ(p.sink.events, (std::vector<std::string>{"request DL   9 x", "time 0"}));
}

TEST(FrameParser, StationAcknowledgementIsTheWholeSignatureAtTheChunkStart) {
  EXPECT_TRUE(IsStationAcknowledgement(Hex("FF AA 55 32 CD")));
  EXPECT_TRUE(IsStationAcknowledgement(Hex("FF AA 55 32 CD 00 00 00 C0")));
  EXPECT_FALSE(IsStationAcknowledgement(Hex("FF AA 00 32 CD")));
  EXPECT_FALSE(IsStationAcknowledgement(Hex("FF AA 55 32 00")));
  EXPECT_FALSE(IsStationAcknowledgement(Hex("FF AA")));  // too short to be the answer
  EXPECT_FALSE(IsStationAcknowledgement(Hex("00 FF AA 55 32 CD")));
}

}  // namespace
}  // namespace orderlink
