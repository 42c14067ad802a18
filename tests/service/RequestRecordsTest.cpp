#include <gtest/gtest.h>

#include "ServiceFakes.h"
#include "common/Gbk.h"
#include "service/RequestDispatch.h"
#include "service/RequestRecords.h"

namespace orderlink {
namespace {

using namespace std::string_literals;

struct KindCase {
  std::string code;
  std::string payload;
  std::vector<std::string> lines;  // the record, first line included
};

// Payloads are written field by field.
// clang-format off
std::vector<KindCase> EveryKind() {
  const std::string kungPao = Utf8ToGbk("宫保鸡丁");  // 8 bytes
  const std::string noChili = Utf8ToGbk("不要辣");    // 6 bytes
  const std::string rice = Utf8ToGbk("米饭");         // 4 bytes
  const std::string dcItem1 = "10023" "2.\0\0"s + kungPao + "    " "01" "1" "   38.00";
  const std::string dcItem2 = "10045" "1\0\0\0"s + rice + "        " "02" "0" "    2.00";
  return {
      {"DL  ", "007" "1001\0\0\0\0\0\0"s "8888" "20260107",
       {"DL   007", "1001\0\0\0\0\0\0 8888 20260107"s}},
      {"KT  ", "012A01204" "00001", {"KT   012", "A012 04 00001"}},
      {"HT  ", "0120000123A015   ", {"HT   012", "0000123 A015   "}},
      {"CT  ", "0120000123", {"CT   012", "0000123"}},
      {"XGTT", "012A01206" "00002", {"XGTT 012", "A012 06 00002"}},
      {"YDKT", "012B00302" "00003", {"YDKT 012", "B003 02 00003"}},
      {"ZDCX", "01212\0\0\0\0\0"s, {"ZDCX 012", "12\0\0\0\0\0"s}},
      {"KHYQ", "0120000123" + noChili, {"KHYQ 012", "0000123 " + noChili + "      "}},
      {"DYDC", "0120000124", {"DYDC 012", "0000124"}},
      {"CPCC", "012000012310023", {"CPCC 012", "0000123 10023"}},
      {"CLCC", "012000012320260107", {"CLCC 012", "0000123 20260107"}},
      {"ZZCC", "0120000125", {"ZZCC 012", "0000125"}},
      {"THYD", "012A012", {"THYD 012", "A012"}},
      {"LBKX", "01201", {"LBKX 012", "01"}},
      {"THKX", "012B003", {"THKX 012", "B003"}},
      {"YDHZ", "012", {"YDHZ 012"}},
      {"KXHZ", "012", {"KXHZ 012"}},
      {"DC  ", "0120000123" + dcItem1 + dcItem2,
       {"DC   012", "0000123 10023 2.   " + kungPao + "     01 1    38.00",
        "0000123 10045 1    " + rice + "         02 0     2.00"}},
      {"TC  ", "0120000123T001      1\0\0\0\0\0\0\0    128.00"s,
       {"TC   012", "0000123 T001       1         128.00"}},
      {"JC  ",
       "012000012310023" "0001" + kungPao + "      " + "2.\0\0"s + "00381" + noChili + "      ",
       {"JC   012", "0000123 10023 0001 " + kungPao + "       2.   0038 1 " + noChili + "      "}},
      {"ZSCP", "012000012310023     1\0\0\0" "12\0\0"s, {"ZSCP 012", "0000123 10023      1    12"}},
      {"XGMM", "0121234567887654321", {"XGMM 012", "12345678 87654321"}},
  };
}

// clang-format on

TEST(RequestRecordTest, EveryKindWritesItsRecordByteForByte) {
  test::TempAppDir dir;
  const auto path = dir.Txt("T1.txt");
  const auto cases = EveryKind();
  ASSERT_EQ(cases.size(), RequestCodeTable.size());
  for (const KindCase& c : cases) {
    SCOPED_TRACE(c.code);
    const int kind = LookupRequestKind(c.code);
    ASSERT_GE(kind, 10);
    ASSERT_TRUE(WriteRequestRecord(kind, c.payload, path));
    std::string expected;
    for (const auto& line : c.lines) expected += line + "\r\n";
    EXPECT_EQ(test::ToHex(dir.Read("T1.txt").value()), test::ToHex(expected));
  }
}

TEST(RequestRecordTest, OrderItemsFollowThePayloadLength) {
  const int dc = LookupRequestKind("DC  ");
  const std::string head = "0120000123";
  const std::string item(32, '7');
  EXPECT_EQ(BuildRequestRecord(dc, head).size(), 1u);
  EXPECT_EQ(BuildRequestRecord(dc, head + item).size(), 2u);
  EXPECT_EQ(BuildRequestRecord(dc, head + item + item).size(), 3u);
  // A last item cut short reads blanks where its bytes are missing.
  const auto lines = BuildRequestRecord(dc, head + item + "10023");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[2], "0000123 10023 " + std::string(4 + 1 + 12 + 1 + 2 + 1 + 1 + 1 + 8, ' '));
}

TEST(RequestRecordTest, WishTextTakesUpToTwelveReceivedBytes) {
  const int khyq = LookupRequestKind("KHYQ");
  EXPECT_EQ(BuildRequestRecord(khyq, "0120000123abcde").at(1), "0000123 abcde       ");
  EXPECT_EQ(BuildRequestRecord(khyq, "0120000123").at(1), "0000123             ");
  EXPECT_EQ(BuildRequestRecord(khyq, "012000012").at(1), "000012              ");
  EXPECT_EQ(BuildRequestRecord(khyq,
                               "0120000123"
                               "123456789012"
                               "XYZ")
                .at(1),
            "0000123 123456789012");
}

TEST(RequestRecordTest, ExistingRecordFileKeepsItsSpelling) {
  test::TempAppDir dir;
  dir.WriteGbk("t1.TXT", "old record\r\n");
  const TxtDir txt(dir.Path());
  ASSERT_TRUE(WriteRequestRecord(LookupRequestKind("YDHZ"), "012", txt.ForWrite("T1.txt")));
  EXPECT_EQ(dir.Read("t1.TXT"), "YDHZ 012\r\n");
  EXPECT_FALSE(std::filesystem::exists(dir.Txt("T1.txt")));
}

}  // namespace
}  // namespace orderlink
