#include <gtest/gtest.h>

#include "basesim/PcFrameParser.h"
#include "support/FakeSerialPort.h"

namespace orderlink::basesim {
namespace {

using test::Hex;
using test::ToHex;
using Kind = PcFrame::Kind;

// One line per frame: kind, address and code/body, so a whole feed compares as text.
std::string Describe(const std::vector<PcFrame>& frames) {
  std::string out;
  for (const auto& f : frames) {
    switch (f.kind) {
      case Kind::Poll:
        out += "poll " + std::to_string(f.address);
        break;
      case Kind::RollCall:
        out += "rollcall " + std::to_string(f.address);
        break;
      case Kind::ConfigRequest:
        out += "config";
        break;
      case Kind::SettingsRecord:
        out += "settings " + ToHex(f.body);
        break;
      case Kind::Long:
        out += "long " + ToHex(std::string(1, static_cast<char>(f.route))) + " " +
               std::to_string(f.address) + " " + std::to_string(f.sequence) + "/" +
               std::to_string(f.more) + " [" + f.code + "] " + ToHex(f.body);
        break;
      case Kind::Rejected:
        out += "reject " + ToHex(f.raw);
        break;
    }
    out += "\n";
  }
  return out;
}

std::string Parse(const std::string& bytes, std::size_t step, bool settings = false) {
  PcFrameParser parser;
  parser.ExpectSettingsRecord(settings);
  std::vector<PcFrame> frames;
  for (std::size_t i = 0; i < bytes.size(); i += step)
    parser.Feed(std::string_view(bytes).substr(i, step), frames);
  parser.Flush(frames);
  return Describe(frames);
}

struct Row {
  const char* name;
  const char* hex;
  const char* expected;
  bool settings = false;
};

const Row kRows[] = {
    {"poll", "00 00 00 C0 01 05", "poll 5\n"},
    {"roll call", "00 00 00 01 05", "rollcall 5\n"},
    {"header-only long frame", "00 00 00 C0 02 07 03 01 00 46 48 4A 53", "long C0 3 1/0 [FHJS] \n"},
    {"long frame with body and other route", "00 00 00 C1 02 0A 0C 02 01 44 58 20 20 41 42 43",
     "long C1 12 2/1 [DX  ] 41 42 43\n"},
    {"configuration request", "FF 23 DC 55 AA", "config\n"},
    {"settings record only when expected", "03 50 80 C1", "settings 03 50 80 C1\n", true},
    {"settings bytes unasked are stray", "03 50 80 C1", "reject 03 50 80 C1\n"},
    {"two zeros are no preamble", "00 00 C0 01 05 00 00 00 C0 01 06",
     "reject 00 00 C0 01 05\npoll 6\n"},
    {"a fourth zero is stray", "00 00 00 00 C0 01 05", "reject 00\npoll 5\n"},
    {"unknown type", "00 00 00 C0 03 05 00 00 00 C0 01 06",
     "reject 00 00 00 C0 03\nreject 05\npoll 6\n"},
    {"length below 7", "00 00 00 C0 02 06", "reject 00 00 00 C0 02 06\n"},
    {"length above 61", "00 00 00 C0 02 3E", "reject 00 00 00 C0 02 3E\n"},
    {"more flag 2", "00 00 00 C0 02 07 03 01 02 46 48 4A 53",
     "reject 00 00 00 C0 02 07 03 01 02 46 48 4A 53\n"},
    {"sequence 0", "00 00 00 C0 02 07 03 00 00 46 48 4A 53",
     "reject 00 00 00 C0 02 07 03 00 00 46 48 4A 53\n"},
    {"code not printable", "00 00 00 C0 02 07 03 01 00 46 00 4A 53",
     "reject 00 00 00 C0 02 07 03 01 00 46 00 4A 53\n"},
    {"frame cut short by the next preamble", "00 00 00 C0 02 0A 03 01 01 00 00 00 C0 01 02",
     "reject 00 00 00 C0 02 0A 03 01 01\npoll 2\n"},
    {"body is delimited by length, zero bytes included",
     "00 00 00 C0 02 0D 03 01 00 53 4A 43 58 1A 0C 07 00 00 00",
     "long C0 3 1/0 [SJCX] 1A 0C 07 00 00 00\n"},
    {"frame cut short at the end", "00 00 00 C0 02 0A 03 01 00 44 58 20 20 41",
     "reject 00 00 00 C0 02 0A 03 01 00 44 58 20 20 41\n"},
    {"broken configuration request", "FF 23 DC 00 00 00 C0 01 01", "reject FF 23 DC\npoll 1\n"},
    {"garbage between frames", "41 42 00 00 00 C0 01 01 43", "reject 41 42\npoll 1\nreject 43\n"},
};

TEST(PcFrameParser, ParsesEveryRowWholeAndByteByByte) {
  for (const Row& row : kRows) {
    const std::string bytes = Hex(row.hex);
    EXPECT_EQ(Parse(bytes, bytes.size(), row.settings), row.expected) << row.name;
    EXPECT_EQ(Parse(bytes, 1, row.settings), row.expected) << row.name << " (byte by byte)";
  }
}

TEST(PcFrameParser, ResultDoesNotDependOnWhereTheInputIsSplit) {
  for (const Row& row : kRows) {
    const std::string bytes = Hex(row.hex);
    for (std::size_t cut = 1; cut < bytes.size(); ++cut) {
      PcFrameParser parser;
      parser.ExpectSettingsRecord(row.settings);
      std::vector<PcFrame> frames;
      parser.Feed(std::string_view(bytes).substr(0, cut), frames);
      parser.Feed(std::string_view(bytes).substr(cut), frames);
      parser.Flush(frames);
      EXPECT_EQ(Describe(frames), row.expected) << row.name << " cut at " << cut;
    }
  }
}

TEST(PcFrameParser, RowsJoinedGiveTheirFramesInOrder) {
  // Only rows that end cleanly can be joined without changing each other.
  std::string joined;
  std::string expected;
  for (const char* name :
       {"poll", "roll call", "header-only long frame", "long frame with body and other route",
        "configuration request", "length below 7", "garbage between frames"}) {
    const Row* row = std::find_if(std::begin(kRows), std::end(kRows),
                                  [&](const Row& r) { return std::string_view(r.name) == name; });
    joined += Hex(row->hex);
    expected += row->expected;
  }
  EXPECT_EQ(Parse(joined, joined.size()), expected);
}

TEST(PcFrameParser, SettingsRecordIsExpectedOnceAndPendingIsReported) {
  PcFrameParser parser;
  std::vector<PcFrame> frames;
  parser.ExpectSettingsRecord(true);
  parser.Feed(Hex("08 A0 B5 05 FF 03 01 02"), frames);
  EXPECT_TRUE(frames.empty());
  EXPECT_TRUE(parser.Pending());
  parser.Feed(Hex("03 03"), frames);
  parser.Flush(frames);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(ToHex(frames[0].body), "08 A0 B5 05 FF 03 01 02 03");
  EXPECT_FALSE(parser.ExpectingSettingsRecord());
  EXPECT_EQ(frames[1].kind, Kind::Rejected) << "a second record is not expected";
}

}  // namespace
}  // namespace orderlink::basesim
