#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "common/Gbk.h"
#include "common/TextFile.h"

namespace orderlink {
namespace {

// The committed sample tables must pass every download rule, or a demo download of
// them fails with a message instead of showing the transfer.
TEST(SampleTables, PassTheDownloadRules) {
  const std::filesystem::path dir = std::filesystem::path(ORDERLINK_SOURCE_DIR) / "samples" / "TXT";
  struct Rule {
    const char* file;
    std::size_t maxLines;
    std::size_t width;  // 0: any
  } rules[] = {
      {"菜品类别表.txt", 100, 12},      {"菜品套餐表.txt", 100, 22},
      {"菜品套餐内容表.txt", 2000, 29}, {"起菜方式表.txt", 100, 0},
      {"退菜理由表.txt", 100, 12},      {"客户要求表.txt", 1000, 23},
      {"推荐菜品表.txt", 100, 22},      {"推荐菜品内容表.txt", 1000, 29},
      {"菜品表.txt", 5000, 100},        {"酒店名称.txt", 9999, 0},
      {"开机画面.txt", 9999, 0},        {"配置文件.txt", 9999, 0},
      {"管理员密码.txt", 9999, 8},
  };
  for (const Rule& rule : rules) {
    const auto bytes = ReadFileBytes(dir / rule.file);
    ASSERT_TRUE(bytes) << rule.file;
    EXPECT_TRUE(bytes->ends_with("\r\n")) << rule.file;
    const auto lines = SplitLines(*bytes);
    EXPECT_GE(lines.size(), 1u) << rule.file;
    EXPECT_LE(lines.size(), rule.maxLines) << rule.file;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (rule.width != 0) {
        EXPECT_EQ(lines[i].size(), rule.width) << rule.file << " line " << i + 1;
      }
      EXPECT_EQ(Utf8ToGbk(GbkToUtf8(lines[i])), lines[i]) << rule.file << " line " << i + 1;
    }
  }
  const auto name = ReadLines(dir / "酒店名称.txt");
  EXPECT_LE(name->at(0).size(), 20u);

  std::set<std::string> dishCodes;
  const auto dishes = ReadLines(dir / "菜品表.txt");
  ASSERT_TRUE(dishes);
  for (const auto& line : *dishes) dishCodes.insert(line.substr(0, 5));
  EXPECT_GE(dishCodes.size(), 60u);
  for (const char* contents : {"菜品套餐内容表.txt", "推荐菜品内容表.txt"}) {
    const auto lines = ReadLines(dir / contents);
    ASSERT_TRUE(lines);
    for (const auto& line : *lines) {
      EXPECT_TRUE(dishCodes.count(line.substr(2, 5))) << contents << ": " << line.substr(2, 5);
    }
  }
  EXPECT_EQ(*ReadFileBytes(dir / "基站.txt"), "1 COM1\r\n");
  EXPECT_EQ(ReadLines(dir / "点菜机.txt")->size(), 8u);
}

}  // namespace
}  // namespace orderlink
