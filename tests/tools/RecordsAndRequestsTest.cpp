#include <gtest/gtest.h>

#include <map>

#include "basesim/Records.h"
#include "basesim/RequestGenerator.h"
#include "common/Gbk.h"

namespace orderlink::basesim {
namespace {

TEST(WireForm, InsertsBlanksBetweenTheFieldsOfItsTables) {
  const std::string head = "00020001";
  EXPECT_EQ(WireForm(head + "KYQB" + "001" + std::string(20, 'x')),
            head + "KYQB001 " + std::string(20, 'x'));
  // A serving-method line shorter than its fields still gets both blanks.
  EXPECT_EQ(WireForm(head + "QCB " + "10AB"), head + "QCB 1 0 AB");
  EXPECT_EQ(WireForm(head + "QCB " + "1"), head + "QCB 1  ");
  const std::string content = "0101001" + std::string(20, 'N') + "        1    28.00" + "AB  ";
  EXPECT_EQ(WireForm(head + "TCPB" + content).size(), 12u + 52u);
  EXPECT_EQ(WireForm(head + "TJNR" + content).substr(12),
            "0101001 " + std::string(20, 'N') + "        1 " + "    28.00 AB  ");
  const std::string dish(100, 'd');
  const std::string wire = WireForm(head + "CPB " + dish);
  ASSERT_EQ(wire.size(), 12u + 104u);
  for (std::size_t blank : {17u, 49u, 59u, 105u}) EXPECT_EQ(wire[blank], ' ') << blank;
  EXPECT_EQ(WireForm(head + "CLB " + "01abcdefghij"), head + "CLB 01abcdefghij")
      << "other tables unchanged";
}

TEST(CheckCut, AcceptsOnlyThePcsCuts) {
  const std::string ascii(120, 'a');
  EXPECT_EQ(CheckCut({54}, std::string(54, 'a'), 54), "");
  EXPECT_EQ(CheckCut({54, 1}, std::string(55, 'a'), 54), "");
  EXPECT_EQ(CheckCut({54, 54, 12}, ascii, 54), "");
  EXPECT_NE(CheckCut({53, 2}, std::string(55, 'a'), 54), "") << "short packet without a reason";
  EXPECT_NE(CheckCut({54, 0}, std::string(54, 'a'), 54), "") << "54 bytes fit one packet";
  EXPECT_NE(CheckCut({55}, std::string(55, 'a'), 54), "") << "last packet too long";
  EXPECT_EQ(CheckCut({0}, "", 54), "");

  // Byte 54 begins a two-byte character: the packet ends after 53 bytes.
  const std::string split = std::string(53, 'a') + Utf8ToGbk("菜") + "bb";
  EXPECT_EQ(CheckCut({53, 4}, split, 54), "");
  EXPECT_NE(CheckCut({54, 3}, split, 54), "");
  // Characters are counted from the start: here byte 54 is the second half of one.
  const std::string shifted = std::string(52, 'a') + Utf8ToGbk("菜") + "bb";
  EXPECT_EQ(CheckCut({54, 2}, shifted, 54), "");
  EXPECT_NE(CheckCut({53, 3}, shifted, 54), "");
  // Records use 41 / 40.
  const std::string record = std::string(40, 'r') + Utf8ToGbk("菜");
  EXPECT_EQ(CheckCut({40, 2}, record, 41), "");
  EXPECT_NE(CheckCut({41, 1}, record, 41), "");
}

TEST(MissingRanges, GroupsRunsAndKeepsToItsLimits) {
  std::vector<bool> have(11, true);  // records 1..10
  EXPECT_EQ(MissingRanges(have, 40, 500), "");
  have[3] = have[4] = have[5] = have[9] = false;
  EXPECT_EQ(MissingRanges(have, 40, 500),
            std::string("00002\x03", 6) + std::string("00008\x01", 6));
  EXPECT_EQ(MissingRanges(have, 1, 500), std::string("00002\x03", 6));
  EXPECT_EQ(MissingRanges(have, 40, 2), std::string("00002\x02", 6));
  std::vector<bool> many(601, false);
  const std::string ranges = MissingRanges(many, 40, 500);
  ASSERT_EQ(ranges.size(), 12u);
  EXPECT_EQ(ranges.substr(0, 5), "00000");
  EXPECT_EQ(static_cast<unsigned char>(ranges[5]), 255);
  EXPECT_EQ(ranges.substr(6, 5), "00255");
  EXPECT_EQ(static_cast<unsigned char>(ranges[11]), 245);
}

// Payload bytes each kind's record writer reads (the handset text included).
const std::map<std::string, std::size_t> kSizes = {
    {"DL  ", 25}, {"KT  ", 14}, {"HT  ", 17}, {"CT  ", 10}, {"XGTT", 14},
    {"YDKT", 14}, {"ZDCX", 10}, {"DYDC", 10}, {"CPCC", 15}, {"CLCC", 18},
    {"ZZCC", 10}, {"THYD", 7},  {"LBKX", 5},  {"THKX", 7},  {"YDHZ", 3},
    {"KXHZ", 3},  {"TC  ", 38}, {"JC  ", 54}, {"ZSCP", 28}, {"XGMM", 19}};

TEST(RequestGenerator, EveryKindHasTheSizeItsRecordWriterReads) {
  RequestGenerator generator(7, 3, {}, 0.0);
  ASSERT_EQ(RequestCodes().size(), 22u);
  for (int round = 0; round < 20; ++round) {
    for (const auto& code : RequestCodes()) {
      const HandsetRequest request = generator.Make(code);
      const std::string& p = request.payload;
      ASSERT_GE(p.size(), 3u) << code;
      EXPECT_EQ(p.substr(0, 3), "007") << code;
      if (code == "DC  ") {
        EXPECT_GT(p.size(), 10u);
        EXPECT_EQ((p.size() - 10) % 32, 0u);
      } else if (code == "KHYQ") {
        EXPECT_GT(p.size(), 10u);
        EXPECT_LE(p.size(), 22u);
      } else {
        EXPECT_EQ(p.size(), kSizes.at(code)) << code;
      }
      // The handset byte and payload never hold three zero bytes in a row.
      const std::string content = std::string(1, '\x07') + p;
      EXPECT_EQ(content.find(std::string("\0\0\0", 3)), std::string::npos) << code;
    }
  }
}

TEST(RequestGenerator, LogsInFirstAndIsReproducible) {
  RequestGenerator a(2, 9, {"01001", "02002"}, 0.3);
  RequestGenerator b(2, 9, {"01001", "02002"}, 0.3);
  EXPECT_EQ(a.Next().code, "DL  ");
  EXPECT_EQ(b.Next().code, "DL  ");
  int timeQueries = 0;
  std::map<std::string, int> kinds;
  for (int i = 0; i < 400; ++i) {
    const HandsetRequest x = a.Next();
    const HandsetRequest y = b.Next();
    ASSERT_EQ(x.code, y.code);
    ASSERT_EQ(x.payload, y.payload);
    if (x.timeQuery) {
      ++timeQueries;
      EXPECT_EQ(x.code, "SJCX");
      EXPECT_TRUE(x.payload.empty());
    }
    ++kinds[x.code];
    if (x.code == "DC  ") {
      const std::string dish = x.payload.substr(10, 5);
      EXPECT_TRUE(dish == "01001" || dish == "02002") << dish;
    }
  }
  EXPECT_GT(timeQueries, 60);
  EXPECT_LT(timeQueries, 180);
  EXPECT_GE(kinds.size(), 15u) << "a mix of kinds";
  RequestGenerator never(2, 9, {}, 0.0);
  for (int i = 0; i < 100; ++i) EXPECT_FALSE(never.Next().timeQuery);
}

}  // namespace
}  // namespace orderlink::basesim
