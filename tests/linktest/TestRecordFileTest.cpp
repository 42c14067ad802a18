#include <gtest/gtest.h>

#include "common/Gbk.h"
#include "common/TextFile.h"
#include "linktest/TestRecordFile.h"
#include "support/Processes.h"
#include "support/RecordingMessages.h"

namespace orderlink {
namespace {

namespace fs = std::filesystem;

struct Dialog : SaveDialog {
  std::optional<fs::path> Execute(const SaveDialogOptions& o) override {
    options = o;
    return answer;
  }
  std::optional<fs::path> answer;
  SaveDialogOptions options;
};

// Two instants, so the page shows which was used where.
RecordClock TwoInstants() {
  return [n = 0]() mutable { return RecordTime{"2024/1/2", ++n == 1 ? "3:04:05" : "3:04:06"}; };
}

std::string Cells(const std::vector<const char*>& texts, const char* open) {
  std::string row = "<tr>";
  for (const char* text : texts) row += std::string(open) + text + "</td>";
  return row + "</tr>";
}
const std::string kTitles = Cells({"机号", "发送总数", "发送错误", "发送误码率", "接收总数",
                                   "接收错误", "接收延时", "接收误码率"},
                                  R"(<td class="td1" align="center" valign="middle">)");

std::string Page(const std::string& rows) {
  return Utf8ToGbk(
      "<html>\r\n<head>\r\n<title>2024/1/23:04:05 Test Result:</title>\r\n"
      "<style type=\"text/css\">\r\n"
      "td{background:#EEEEEE; padding-left:3px; padding-right:3px; width:60; height:30px;}\r\n"
      ".td1{background:#CCCCCC}\r\n</style>\r\n</head>\r\n<body>\r\n"
      "<p align=\"center\">测试结果 2024/1/2 3:04:06</p><hr /><br />\r\n"
      "<table align=\"center\"  border=\"0\" cellpadding=\"0\" cellspacing=\"1\" "
      "bgcolor=\"#000000\">" +
      rows + "</table>\r\n</body>\r\n</html>\r\n");
}

// Each test has its own folder: CTest runs the tests of this file side by side.
class TestRecordFileTest : public ::testing::Test {
 protected:
  test::TempAppDir appDir;
  fs::path dir = appDir.Path();
};

TEST_F(TestRecordFileTest, PageIsWrittenByteForByte) {
  ASSERT_TRUE(SaveTestRecord(TestGrid{}, dir / "record", TwoInstants()));  // no extension added
  EXPECT_EQ(ReadFileBytes(dir / "record"), Page(kTitles));

  TestGrid grid;
  grid.AddRow("007");
  grid.SetCell(1, kColSendRate, "00.00%");
  grid.SetCell(1, kColReceiveRate, "%");
  const fs::path file = dir / "测试记录.html";
  ASSERT_TRUE(WriteFileBytes(file, std::string(5000, 'x')));  // replaced whole
  ASSERT_TRUE(SaveTestRecord(grid, file, TwoInstants()));
  EXPECT_EQ(ReadFileBytes(file),
            Page(kTitles + Cells({"007", "0", "0", "00.00%", "0", "0", "0", "%"},
                                 R"(<td align="center" valign="middle">)")));
}

TEST_F(TestRecordFileTest, SaveButtonReportsTheOutcome) {
  test::RecordingMessages messages;
  Dialog dialog;
  SaveTestRecordAs(TestGrid{}, dialog, messages, TwoInstants());  // cancelled
  EXPECT_TRUE(messages.Messages().empty());
  EXPECT_EQ(dialog.options.title, "请保存记录文件：");
  EXPECT_EQ(dialog.options.proposedName, "测试记录.html");
  EXPECT_EQ(dialog.options.filterName + dialog.options.filterPattern, "网页*.html");

  dialog.answer = dir / "ok.html";
  SaveTestRecordAs(TestGrid{}, dialog, messages, TwoInstants());
  EXPECT_TRUE(fs::exists(*dialog.answer));
  dialog.answer = dir / "no-such-folder" / "x.html";
  SaveTestRecordAs(TestGrid{}, dialog, messages, TwoInstants());
  EXPECT_EQ(messages.Messages(), (std::vector<std::string>{"文件保存成功!", "文件保存失败!"}));
}

}  // namespace
}  // namespace orderlink
