#include <gtest/gtest.h>

#include "common/Gbk.h"
#include "download/DownloadFakes.h"

namespace orderlink::test {
namespace {

std::string Prepare(const TempAppDir& app, std::initializer_list<std::string_view> tags,
                    std::vector<std::string>* lines = nullptr) {
  auto prepared = PrepareDownload(TxtDir(app.Path()), Only(tags));
  if (lines != nullptr) *lines = prepared.jobLines;
  return prepared.error;
}

TEST(DownloadTables, EachTableAcceptsItsLimitAndRefusesOneMore) {
  struct Case {
    const char* tag;
    const char* file;
    int limit;
    std::size_t length;
    const char* tooMany;
  } const cases[] = {
      {"CLB ", "菜品类别表.txt", 100, 12, "菜品类别条数大于所要求的最大下载条数100！"},
      {"TCB ", "菜品套餐表.txt", 100, 22, "菜品套餐数大于所要求的最大下载条数100！"},
      {"TCPB", "菜品套餐内容表.txt", 2000, 29, "套餐菜品条数大于所要求的最大下载条数2000！"},
      {"QCB ", "起菜方式表.txt", 100, 10, "起菜方式条数大于所要求的最大下载条数100！"},
      {"TLYB", "退菜理由表.txt", 100, 12, "退菜条数大于所要求的最大下载条数100！"},
      {"KYQB", "客户要求表.txt", 1000, 23, "客户要求条数大于所要求的最大下载条数1000！"},
      {"TJCP", "推荐菜品表.txt", 100, 22, "推荐菜品条数大于所要求的最大下载条数100！"},
      {"TJNR", "推荐菜品内容表.txt", 1000, 29, "套餐菜品条数大于所要求的最大下载条数1000！"},
      {"CPB ", "菜品表.txt", 5000, 100, "菜品条数大于所要求的最大下载条数5000！"},
      {"KJHM", "开机画面.txt", 9999, 8, "开机画面条数超过9999条！"},  // four-digit fields
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tag);
    TempAppDir app;
    app.WriteLines("菜品表.txt", {});
    app.WriteLines(c.file, FixedLines(c.limit, c.length));
    std::vector<std::string> lines;
    EXPECT_EQ(Prepare(app, {c.tag}, &lines), "");
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(c.limit));
    EXPECT_EQ(lines.back().substr(0, 12), ZeroPadded(c.limit, 4) + ZeroPadded(c.limit, 4) + c.tag);
    app.WriteLines(c.file, FixedLines(c.limit + 1, c.length));
    EXPECT_EQ(Prepare(app, {c.tag}), c.tooMany);
  }
}

TEST(DownloadTables, LengthRulesAndMissingFilesStopWithTheirMessage) {
  struct Case {
    const char* tag;
    const char* file;  // nullptr: no file
    std::vector<std::string> lines;
    const char* error;
  } const cases[] = {
      {"TLYB", "退菜理由表.txt", FixedLines(1, 22), "退菜理由表第1行格式不正确"},
      {"CLB ", "菜品类别表.txt", {std::string(12, 'a'), ""}, "菜品类别表第2行格式不正确"},
      {"CPB ", "菜品表.txt", FixedLines(2, 100), ""},
      {"CPB ",
       "菜品表.txt",
       {std::string(100, 'a'), std::string(99, 'b')},
       "菜品表第2行格式不正确"},
      {"TCPB", "菜品套餐内容表.txt", FixedLines(1, 30), "菜品套餐内容表第1行格式不正确"},
      {"QCB ", "起菜方式表.txt", {"", "1", std::string(40, 'q')}, ""},
      {"TJNR", nullptr, {}, "推荐菜品内容表文件不存在！"},
      {"TCPB", nullptr, {}, "套餐内容表文件不存在！"},
      {"PZWJ", nullptr, {}, "配置文件不存在！"},
      {"JDMC", "酒店名称.txt", {}, "酒店名称文件为空！"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    TempAppDir app;
    app.WriteLines("菜品表.txt", {});
    if (c.file != nullptr) app.WriteLines(c.file, c.lines);
    // A missing table's text is followed by the folder it was looked for in.
    const std::string lookedIn = c.file == nullptr ? "（在" + app.Path() + "/TXT中查找）" : "";
    EXPECT_EQ(Prepare(app, {c.tag}), c.error + lookedIn);
  }
  TempAppDir app;  // names come from the dish table, which must exist
  app.WriteLines("推荐菜品内容表.txt", FixedLines(1, 29));
  EXPECT_EQ(Prepare(app, {"TJNR"}), "菜品表文件不存在！（在" + app.Path() + "/TXT中查找）");
}

// Missing keeps its own message; anything else that stands in a table's place is
// named with the reason, so the user does not look for a file that is there.
TEST(DownloadTables, UnreadableTablesAreNamedWithTheirReason) {
  const auto plantDirectory = [](const TempAppDir& app, const std::string& name) {
    std::filesystem::create_directory(app.Txt(name));
  };
  const auto plantDanglingLink = [](const TempAppDir& app, const std::string& name) {
    std::filesystem::create_symlink(app.Txt("gone.txt"), app.Txt(name));
  };
  {
    TempAppDir app;
    app.WriteLines("菜品表.txt", {});
    plantDirectory(app, "菜品类别表.txt");
    EXPECT_EQ(Prepare(app, {"CLB "}), "菜品类别表.txt无法读取：Is a directory");
  }
  {
    TempAppDir app;
    plantDanglingLink(app, "菜品表.txt");
    EXPECT_EQ(Prepare(app, {"CPB "}), "菜品表.txt无法读取：它是一个链接，链接指向的文件不存在");
  }
  {
    TempAppDir app;  // the dish table read for the names of a content table
    app.WriteLines("菜品套餐内容表.txt", FixedLines(1, 29));
    plantDirectory(app, "菜品表.txt");
    EXPECT_EQ(Prepare(app, {"TCPB"}), "菜品表.txt无法读取：Is a directory");
  }
}

TEST(DownloadTables, RewritesOfReasonsAndRestaurantName) {
  const std::string han = Utf8ToGbk("酒店");  // two two-byte characters
  const std::pair<std::string, std::string> names[] = {
      {"Golden D", "Golden D" + std::string(12, ' ')},
      {std::string(19, 'a') + han, std::string(19, 'a') + " "},  // byte 20 begins a character
      {std::string(18, 'a') + han, std::string(18, 'a') + han.substr(0, 2)},
  };
  for (const auto& [line, name] : names) {
    TempAppDir app;
    app.WriteLines("酒店名称.txt", {line, "second line"});
    app.WriteLines("退菜理由表.txt", {"123456789012"});
    std::vector<std::string> lines;
    ASSERT_EQ(Prepare(app, {"JDMC", "TLYB"}, &lines), "");
    EXPECT_EQ(lines, (std::vector<std::string>{"00020001JDMC" + name, "second line",
                                               "00010001TLYB123456789012          "}));
  }
}

TEST(DownloadTables, ContentLinesGetTheDishNameOrTheCode) {
  TempAppDir app;
  const std::string name = Utf8ToGbk("宫保鸡丁") + std::string(12, ' ');
  app.WriteLines("菜品表.txt", {"00042xx" + name + std::string(73, ' '),
                                "00042xx" + std::string(93, 'Z')});  // the first line wins
  app.WriteLines("菜品类别表.txt", FixedLines(1, 12));
  app.WriteLines("菜品套餐内容表.txt",
                 {"AB00042" + std::string(22, '1'), "AB99999" + std::string(22, '2')});
  std::vector<std::string> lines;
  ASSERT_EQ(Prepare(app, {"TCPB", "CLB "}, &lines), "");
  EXPECT_EQ(lines,
            (std::vector<std::string>{
                "00010001CLB 1xxxxxxxxxxx",  // table order, not ticking order
                "00020001TCPBAB00042" + name + std::string(22, '1'),
                "00020002TCPBAB99999" + ("99999" + std::string(15, ' ')) + std::string(22, '2')}));
}

}  // namespace
}  // namespace orderlink::test
