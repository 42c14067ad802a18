#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "common/Clock.h"
#include "common/Gbk.h"
#include "common/TextFile.h"
#include "common/TxtDir.h"

namespace orderlink {
namespace {

const std::string kZhong = "\xD6\xD0";  // GBK for one Chinese character

TEST(Gbk, FirstOfDoubleByteIsFoundFromTheStart) {
  const std::string text = "a" + kZhong + "\xB0\xA1" "b";
  EXPECT_FALSE(IsFirstOfDoubleByte(text, 0));
  EXPECT_TRUE(IsFirstOfDoubleByte(text, 1));
  EXPECT_FALSE(IsFirstOfDoubleByte(text, 2));  // 0xD0 is a lead value but a second byte here
  EXPECT_TRUE(IsFirstOfDoubleByte(text, 3));
  EXPECT_FALSE(IsFirstOfDoubleByte(text, 5));
  EXPECT_EQ(CutAtCharacter(text, 2), 1u);
  EXPECT_EQ(CutAtCharacter(text, 3), 3u);
  EXPECT_EQ(CutAtCharacter(text, 100), text.size());
}

TEST(Gbk, PaddingNeverTruncates) {
  EXPECT_EQ(PadRight("ab", 4), "ab  ");
  EXPECT_EQ(PadRight("abcdef", 4), "abcdef");
  EXPECT_EQ(PadLeft("ab", 4), "  ab");
  EXPECT_EQ(PadLeft("abcdef", 4), "abcdef");
  EXPECT_EQ(PadRight(kZhong, 4), kZhong + "  ");  // counts bytes, not characters
  EXPECT_EQ(ZeroPadded(57, 5), "00057");
  EXPECT_EQ(ZeroPadded(123456, 4), "123456");
}

TEST(Gbk, ConvertsBothWaysAndReplacesWhatCannotBeConverted) {
  EXPECT_EQ(Utf8ToGbk("中"), kZhong);
  EXPECT_EQ(GbkToUtf8(kZhong), "中");
  EXPECT_EQ(GbkToUtf8("ok" + kZhong), "ok中");
  EXPECT_EQ(Utf8ToGbk("\xF0\x9F\x98\x80x"), "?x");  // an emoji has no GBK form
}

TEST(TextFile, SplitsAtCrLfCrOrLfAndAFinalBreakAddsNoLine) {
  using V = std::vector<std::string>;
  EXPECT_EQ(SplitLines(""), V{});
  EXPECT_EQ(SplitLines("a"), V{"a"});
  EXPECT_EQ(SplitLines("a\r\n"), V{"a"});
  EXPECT_EQ(SplitLines("a\r\nb\rc\nd"), (V{"a", "b", "c", "d"}));
  EXPECT_EQ(SplitLines("a\n\nb\r\n\r\n"), (V{"a", "", "b", ""}));
  EXPECT_EQ(SplitLines("a\n\r"), (V{"a", ""}));  // LF then a lone CR: two breaks
}

class TempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    root = std::filesystem::temp_directory_path() /
           ("orderlink-common-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(root / "TXT");
  }
  void TearDown() override { std::filesystem::remove_all(root); }
  std::filesystem::path root;
};

TEST_F(TempDir, WritesCrLfAndReplacesAtomically) {
  const auto file = root / "TXT" / "x.txt";
  ASSERT_TRUE(WriteLines(file, {"a", "b"}));
  EXPECT_EQ(*ReadFileBytes(file), "a\r\nb\r\n");
  ASSERT_TRUE(WriteFileAtomically(file, "new"));
  EXPECT_EQ(*ReadFileBytes(file), "new");
  EXPECT_FALSE(WriteFileAtomically(root / "missing" / "x.txt", "data"));
  EXPECT_FALSE(ReadLines(root / "missing.txt").has_value());
}

TEST_F(TempDir, FindsFilesWithoutRegardToCaseAndKeepsTheirSpelling) {
  TxtDir txt(root);
  std::ofstream(root / "TXT" / "r1.TXT") << "x";
  std::ofstream(root / "TXT" / "基站.txt") << "1 COM1";
  EXPECT_EQ(txt.Find("R1.txt")->filename(), "r1.TXT");
  EXPECT_EQ(txt.Find("基站.TXT")->filename(), "基站.txt");
  EXPECT_FALSE(txt.Find("T1.txt").has_value());
  EXPECT_EQ(txt.ForWrite("R1.txt").filename(), "r1.TXT");
  EXPECT_EQ(txt.ForWrite("T1.txt"), root / "TXT" / "T1.txt");
}

TEST(Clock, VirtualSleepsAdvanceTimeAndStopEndsPauses) {
  VirtualClock clock(0);
  EXPECT_TRUE(clock.SleepMs(150));
  EXPECT_EQ(clock.NowMs(), 150);
  StopSignal stop;
  stop.Raise();
  EXPECT_FALSE(clock.SleepMs(10, &stop));
  EXPECT_EQ(clock.Sleeps(), std::vector<std::int64_t>{150});
  SystemClock real;
  EXPECT_FALSE(real.SleepMs(60'000, &stop));  // returns at once
}

}  // namespace
}  // namespace orderlink
