#include <gtest/gtest.h>

#include "basesim/RequestGenerator.h"
#include "common/Gbk.h"
#include "common/TextFile.h"
#include "hostsim/HostLogic.h"

namespace orderlink::hostsim {
namespace {

TEST(ParseRequestRecord, TakesCodeAndHandsetFromTheFirstLine) {
  const auto record =
      ParseRequestRecord(std::string("DC   012\r\nA012    01001 2.  x\r\nA012    02002 1.5 y\r\n"));
  ASSERT_TRUE(record);
  EXPECT_EQ(record->code, "DC  ");
  EXPECT_EQ(record->handset, "012");
  EXPECT_EQ(record->lines.size(), 2u);
  EXPECT_TRUE(ParseRequestRecord("YDHZ 003"));
  for (const char* bad : {"", "DC  012", "DC   01", "DC   0a2", "DC  -012"}) {
    EXPECT_FALSE(ParseRequestRecord(bad)) << bad;
  }
}

// Record lines as the program writes them for a request payload, enough to drive the
// writer: "%s %s ..." with the fields of the kind.
RequestRecord Record(const std::string& code, std::vector<std::string> lines) {
  return RequestRecord{code, "005", std::move(lines)};
}

TEST(ReplyWriter, HeaderHasTheColumnsTheProgramReadsForEveryKind) {
  const ReplyWriter writer({{"01001", Utf8ToGbk("拍黄瓜")}});
  for (const auto& code : basesim::RequestCodes()) {
    const auto reply = writer.Reply(Record(code, {"A012    01001 2.  " + std::string(30, ' ')}));
    ASSERT_GE(reply.size(), 2u) << code;
    // Characters 1-4 the code, 6-8 the handset number.
    EXPECT_EQ(reply[0], code + " 005") << code;
    for (std::size_t i = 1; i < reply.size(); ++i) {
      EXPECT_FALSE(reply[i].empty()) << code << " line " << i;
      EXPECT_EQ(reply[i].find_first_of(std::string("\r\n\0", 3)), std::string::npos) << code;
      EXPECT_EQ(Utf8ToGbk(GbkToUtf8(reply[i])), reply[i]) << code << ": whole GBK characters";
    }
  }
  EXPECT_EQ(writer.Reply(Record("KT  ", {"A012 04 10001"}), "DM")[0], "DM   005") << "roll call";
}

TEST(ReplyWriter, AnswersEachOrderedDishByName) {
  const ReplyWriter writer({{"01001", Utf8ToGbk("拍黄瓜")}, {"02003", Utf8ToGbk("红烧肉")}});
  const std::string item1 = std::string("A012    01001 2.\0\0", 18) + "       不要辣 01 0    12.00";
  const std::string item2 = "A012    02003 1.5        微辣 02 0    48.00";
  const auto reply = writer.Reply(Record("DC  ", {item1, Utf8ToGbk(item2), "A012    09999 1   x"}));
  ASSERT_EQ(reply.size(), 5u);
  EXPECT_EQ(GbkToUtf8(reply[1]), "拍黄瓜 x2. 已下单");
  EXPECT_EQ(GbkToUtf8(reply[2]), "红烧肉 x1.5 已下单");
  EXPECT_EQ(GbkToUtf8(reply[3]), "菜品09999 x1 已下单") << "unknown code";
  EXPECT_EQ(GbkToUtf8(reply[4]), "点菜成功，共3道");
}

TEST(LoginAccepted, ReadsTheFixedWidthLoginLine) {
  const Users users = {{"admin", "8888"}, {"ab", "1"}, {Utf8ToGbk("张三"), "1234"}};
  struct Case {
    std::string line;
    bool accepted;
  } cases[] = {
      {"admin 8888    \r\n", true},
      {"ab   1       \r\n", true},
      {Utf8ToGbk("张三 1234    "), true},
      {"admin 8889    \r\n", false},
      {"admin1 8888    ", false},
      {"admin         ", false},
      {"", false},
      {"\r\nadmin 8888", false},
  };
  for (const auto& c : cases) EXPECT_EQ(LoginAccepted(c.line, users), c.accepted) << c.line;
  EXPECT_TRUE(LoginAccepted("guest         ", {{"guest", ""}})) << "empty password";
}

TEST(HostFiles, ShortMessageLineAndHandsetsOfAStation) {
  EXPECT_EQ(ShortMessageLine(3, 12, "hi"), "003 012 hi");
  EXPECT_EQ(HandsetsOf({"001 1", "002 2", "003 1", "04 1", "", "x05 1", "006 1 extra"}, '1'),
            (std::vector<int>{1, 3, 6}));
}

TEST(HostFiles, DishNamesComeFromTheDishTable) {
  const auto names = DishNamesOf({"0100101" + PadRight(Utf8ToGbk("拍黄瓜"), 20) + "PHG", "short"});
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(GbkToUtf8(names.at("01001")), "拍黄瓜");
}

}  // namespace
}  // namespace orderlink::hostsim
