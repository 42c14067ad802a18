#include <gtest/gtest.h>

#include <random>

#include "link/FrameCodec.h"
#include "support/FakeSerialPort.h"

namespace orderlink {
namespace {

using test::Hex;
using test::ToHex;

TEST(FrameCodec, ShortFrames) {
  EXPECT_EQ(ToHex(PollFrame(5)), "00 00 00 C0 01 05");
  EXPECT_EQ(ToHex(RollCallFrame(5)), "00 00 00 01 05");
}

TEST(FrameCodec, LinkTestFrameToHandset12) {
  const auto packets = EncodeMessage(0xC0, "TXCS", 12, std::string(53, 'Z'));
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0], Hex("00 00 00 C0 02 3C 0C 01 00 54 58 43 53") + std::string(53, 'Z'));
}

TEST(FrameCodec, SixtyBytesGoOutAsTwoPackets) {
  std::string payload;
  for (int i = 0; i < 60; ++i) payload += static_cast<char>('A' + i % 26);
  const auto packets = EncodeMessage(0xC0, "DX  ", 3, payload);
  ASSERT_EQ(packets.size(), 2u);
  EXPECT_EQ(packets[0], Hex("00 00 00 C0 02 3D 03 01 01 44 58 20 20") + payload.substr(0, 54));
  EXPECT_EQ(packets[1], Hex("00 00 00 C0 02 0D 03 02 00 44 58 20 20") + payload.substr(54));
}

struct CutCase {
  const char* name;
  std::string payload;
  std::size_t maxPiece;
  std::vector<std::size_t> sizes;
};

TEST(FrameCodec, CutsPiecesAtFullSizeOrOneLessBeforeADoubleByteCharacter) {
  const std::string zhong = "\xD6\xD0";  // one GBK character
  const std::vector<CutCase> cases = {
      {"exactly 54", std::string(54, 'a'), 54, {54}},
      {"55", std::string(55, 'a'), 54, {54, 1}},
      {"120", std::string(120, 'a'), 54, {54, 54, 12}},
      {"54th byte starts a character", std::string(53, 'a') + zhong + "b", 54, {53, 3}},
      {"character ends on byte 54", std::string(52, 'a') + zhong + "bb", 54, {54, 2}},
      // Boundaries count from the payload's start: a lead byte value in second
      // position of a character is not a lead byte.
      {"all Chinese", std::string(60, '\xB0'), 54, {54, 6}},
      {"record 41", std::string(41, 'a'), 41, {41}},
      {"record 42", std::string(42, 'a'), 41, {41, 1}},
      {"record 41st starts a character", std::string(40, 'a') + zhong + "c", 41, {40, 3}},
  };
  for (const auto& c : cases) {
    const auto pieces = CutPieces(c.payload, c.maxPiece, true);
    std::vector<std::size_t> sizes;
    std::string joined;
    for (auto p : pieces) {
      sizes.push_back(p.size());
      joined += p;
    }
    EXPECT_EQ(sizes, c.sizes) << c.name;
    EXPECT_EQ(joined, c.payload) << c.name;
  }
}

// The cut as first written: every piece rescans the payload from its start to learn
// whether its last byte begins a two-byte character.
std::vector<std::size_t> RescanningCut(const std::string& payload, std::size_t maxPiece) {
  const auto firstOfDoubleByte = [&](std::size_t index) {
    std::size_t i = 0;
    while (i < index)
      i += static_cast<unsigned char>(payload[i]) >= 0x81 &&
                   static_cast<unsigned char>(payload[i]) <= 0xFE
               ? 2
               : 1;
    const auto byte = static_cast<unsigned char>(payload[index]);
    return i == index && byte >= 0x81 && byte <= 0xFE;
  };
  std::vector<std::size_t> sizes;
  std::size_t pos = 0;
  while (pos + maxPiece < payload.size()) {
    const std::size_t length = firstOfDoubleByte(pos + maxPiece - 1) ? maxPiece - 1 : maxPiece;
    sizes.push_back(length);
    pos += length;
  }
  sizes.push_back(payload.size() - pos);
  return sizes;
}

TEST(FrameCodec, OnePassCutGivesTheSamePiecesAsRescanningOnRandomTextAndBinary) {
  std::mt19937 random(20261208);
  const std::string chinese = "\xD6\xD0\xCE\xC4\xB2\xCB";  // three GBK characters
  for (int round = 0; round < 400; ++round) {
    std::string payload;
    const int length = std::uniform_int_distribution<int>(1, 1200)(random);
    const int kind = round % 3;  // GBK text, raw binary, text with odd lead bytes
    while (static_cast<int>(payload.size()) < length) {
      const int pick = std::uniform_int_distribution<int>(0, 9)(random);
      if (kind == 1) {
        payload += static_cast<char>(std::uniform_int_distribution<int>(0, 255)(random));
      } else if (pick < 4) {
        payload += chinese.substr(2 * (pick % 3), 2);
      } else if (kind == 2 && pick == 9) {
        payload += '\xFE';  // a lead byte that takes whatever follows
      } else {
        payload += static_cast<char>('a' + pick);
      }
    }
    for (std::size_t maxPiece : {kMessagePiece, kRecordPiece}) {
      std::vector<std::size_t> sizes;
      std::size_t pos = 0;
      for (auto piece : CutPieces(payload, maxPiece, true)) {
        ASSERT_EQ(piece.data(), payload.data() + pos);
        sizes.push_back(piece.size());
        pos += piece.size();
      }
      ASSERT_EQ(sizes, RescanningCut(payload, maxPiece))
          << "round " << round << " piece " << maxPiece;
    }
  }
}

TEST(FrameCodec, PacketCountFollowsTheCut) {
  EXPECT_EQ(MessagePacketCount(""), 1u);
  EXPECT_EQ(MessagePacketCount(std::string(54 * 255, 'a')), 255u);
  EXPECT_EQ(MessagePacketCount(std::string(54 * 255 + 1, 'a')), 256u);
  // A character across the first boundary makes that piece 53 bytes: one packet more.
  EXPECT_EQ(MessagePacketCount(std::string(53, 'a') + "\xB0\xA1" + std::string(54 * 255 - 55, 'a')),
            256u);
}

TEST(FrameCodec, EmptyPayloadGivesOneEmptyPacketButNoRecordPacket) {
  const auto packets = EncodeMessage(0xC1, "FHJS", 7, "");
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(ToHex(packets[0]), "00 00 00 C1 02 07 07 01 00 46 48 4A 53");
  EXPECT_TRUE(EncodeRecord(0, "00001", "000100010CPLB").empty() == false);
  EXPECT_TRUE(EncodeRecord(0, "00001", "00010001CPLB").empty());
}

TEST(FrameCodec, RollCallMessageWritesOnlyShortFrames) {
  const auto packets = EncodeMessage(0xC0, "DM  ", 9, std::string(60, 'x'));
  ASSERT_EQ(packets.size(), 2u);
  for (const auto& p : packets) EXPECT_EQ(ToHex(p), "00 00 00 01 09");
}

TEST(FrameCodec, SequenceByteWrapsAfter255) {
  const auto packets = EncodeMessage(0xC0, "DX  ", 1, std::string(54 * 256 + 1, 'q'));
  ASSERT_EQ(packets.size(), 257u);
  EXPECT_EQ(static_cast<unsigned char>(packets[254][7]), 255);
  EXPECT_EQ(static_cast<unsigned char>(packets[255][7]), 0);
  EXPECT_EQ(static_cast<unsigned char>(packets[256][7]), 1);
  EXPECT_EQ(packets[256][8], 0);
}

TEST(FrameCodec, RecordPacketsRepeatTheHeadInEveryPacket) {
  const std::string line = "00030002CPLB" + std::string(45, 'r');
  const auto packets = EncodeRecord(0, "00017", line);
  ASSERT_EQ(packets.size(), 2u);
  EXPECT_EQ(packets[0], Hex("00 00 00 C0 02 3D 00 01 01") + "CPLB" + "00017" + "0003" + "0002" +
                            std::string(41, 'r'));
  EXPECT_EQ(packets[1], Hex("00 00 00 C0 02 18 00 02 00") + "CPLB" + "00017" + "0003" + "0002" +
                            std::string(4, 'r'));
  // A length limits the record data.
  EXPECT_EQ(EncodeRecord(0, "00017", line, 5).size(), 1u);
  EXPECT_EQ(EncodeRecord(0, "00017", line, 5)[0].size(), 26u + 5u);
}

}  // namespace
}  // namespace orderlink
