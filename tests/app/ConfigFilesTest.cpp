#include <gtest/gtest.h>

#include <filesystem>

#include "app/ConfigFiles.h"
#include "common/Gbk.h"
#include "support/Processes.h"

namespace orderlink {
namespace {

struct BaseCase {
  const char* name;
  std::vector<std::string> lines;
  char station;
  std::string portName;
  int portNumber;
  std::string error;  // empty: accepted
};
void PrintTo(const BaseCase& base, std::ostream* out) { *out << base.name; }

class BaseStationFileTest : public ::testing::TestWithParam<BaseCase> {};

TEST_P(BaseStationFileTest, Parses) {
  const BaseCase& c = GetParam();
  const BaseStationResult result = ParseBaseStationFile(c.lines);
  if (!c.error.empty()) {
    EXPECT_FALSE(result.config);
    EXPECT_EQ(result.error, c.error);
    return;
  }
  ASSERT_TRUE(result.config) << result.error;
  EXPECT_EQ(result.config->station, c.station);
  EXPECT_EQ(result.config->portName, c.portName);
  EXPECT_EQ(result.config->portNumber, c.portNumber);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, BaseStationFileTest,
    ::testing::Values(
        BaseCase{"OneLine", {"1 COM3"}, '1', "COM3", 3, ""},
        // The first line names the port and selects the handsets; the last opens its port.
        BaseCase{"TwoLinesSecondDigitOpens", {"1 COM1", "2 COM2"}, '1', "COM1", 2, ""},
        BaseCase{"BlankLinesAreNoRecords", {"", "1 COM4", "  ", "2 COM5", ""}, '1', "COM4", 5, ""},
        BaseCase{"ThreeLines",
                 {"1 COM1", "2 COM2", "3 COM3"},
                 0,
                 "",
                 0,
                 "基站.txt第3行：基站文件最多只能有两行。"},
        BaseCase{"PortZero", {"1 COM0"}, 0, "", 0, "基站.txt第1行：第6个字符应是串口号1～9。"},
        BaseCase{"PortLetter",
                 {"1 COM1", "2 COMX"},
                 0,
                 "",
                 0,
                 "基站.txt第2行：第6个字符应是串口号1～9。"},
        BaseCase{"LineTooShort", {"1 COM"}, 0, "", 0, "基站.txt第1行：第6个字符应是串口号1～9。"},
        BaseCase{"Empty", {}, 0, "", 0, "基站.txt文件是空的！"}),
    [](const auto& info) { return std::string(info.param.name); });

std::vector<std::string> Texts(const HandsetResult& result) {
  std::vector<std::string> texts;
  for (const auto& h : result.handsets) texts.push_back(h.text);
  return texts;
}

TEST(HandsetFileTest, TakesOnlyThisStationInFileOrder) {
  const HandsetResult result =
      ParseHandsetFile({"007 1", "003 2", "012 1 extra", "", "1", "255 1", "000 1"}, '1');
  ASSERT_TRUE(result.Ok()) << result.error;
  EXPECT_EQ(Texts(result), (std::vector<std::string>{"007", "012", "255", "000"}));
  EXPECT_EQ(result.handsets[0].number, 7);
  EXPECT_EQ(result.handsets[2].number, 255);
}

TEST(HandsetFileTest, LinesOfOtherStationsAreNotChecked) {
  const HandsetResult result = ParseHandsetFile({"abc 2", "001 1"}, '1');
  ASSERT_TRUE(result.Ok()) << result.error;
  EXPECT_EQ(Texts(result), (std::vector<std::string>{"001"}));
}

TEST(HandsetFileTest, RefusesBadNumbersNamingTheLine) {
  struct Case {
    std::string line;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"0a1 1", "点菜机.txt第2行：机号“0a1”不是三位数字。"},
      {" 01 1", "点菜机.txt第2行：机号“ 01”不是三位数字。"},
      {Utf8ToGbk("机1 1"), "点菜机.txt第2行：机号“机1”不是三位数字。"},
      // The line addresses a handset with one byte.
      {"256 1", "点菜机.txt第2行：机号256超出范围000～255。"},
  };
  for (const auto& c : cases) {
    const HandsetResult result = ParseHandsetFile({"001 1", c.line}, '1');
    EXPECT_EQ(result.error, c.error) << c.line;
    EXPECT_TRUE(result.handsets.empty());
  }
}

TEST(HandsetFileTest, AtMost256HandsetsOfThisStation) {
  std::vector<std::string> lines;
  for (int i = 0; i < 256; ++i) lines.push_back(ZeroPadded(i, 3) + " 1");
  lines.push_back("001 2");  // another station's line does not count
  EXPECT_TRUE(ParseHandsetFile(lines, '1').Ok());

  lines.push_back("001 1");
  const HandsetResult result = ParseHandsetFile(lines, '1');
  EXPECT_EQ(result.error, "点菜机.txt中本基站的点菜机超过256台（第258行）。");
}

// What start-up shows for each configuration file that cannot be read.
TEST(ConfigFileReadTest, MissingAndUnreadableFilesHaveTheirOwnMessages) {
  test::TempAppDir dir;
  const TxtDir txt(dir.Path());
  // The system's text first, then where it was looked for.
  EXPECT_EQ(ReadBaseStationFile(txt).error,
            "基站.txt文件不存在！（在" + dir.Path() + "/TXT中查找）");
  EXPECT_EQ(ReadHandsetFile(txt, '1').error,
            "点菜机.txt文件不存在！（在" + dir.Path() + "/TXT中查找）");

  std::filesystem::create_directory(dir.Txt("基站.txt"));
  std::filesystem::create_symlink(dir.Txt("gone.txt"), dir.Txt("点菜机.txt"));
  EXPECT_EQ(ReadBaseStationFile(txt).error, "基站.txt无法读取：Is a directory");
  EXPECT_EQ(ReadHandsetFile(txt, '1').error,
            "点菜机.txt无法读取：它是一个链接，链接指向的文件不存在");
}

}  // namespace
}  // namespace orderlink
