#include "linktest/TestRecordFile.h"

#include <vector>

#include "common/Gbk.h"
#include "common/TextFile.h"

namespace orderlink {

namespace {

std::string TableLine(const TestGrid& grid) {
  std::string line =
      R"(<table align="center"  border="0" cellpadding="0" cellspacing="1" bgcolor="#000000">)";
  for (int r = 0; r < grid.RowCount(); ++r) {
    line += "<tr>";
    for (int c = 0; c < TestGrid::kColumns; ++c) {
      line += r == 0 ? R"(<td class="td1" align="center" valign="middle">)"
                     : R"(<td align="center" valign="middle">)";
      line += grid.Cell(r, c);  // copied as it stands, no escaping
      line += "</td>";
    }
    line += "</tr>";
  }
  return line + "</table>";
}

}  // namespace

bool SaveTestRecord(const TestGrid& grid, const std::filesystem::path& file,
                    const RecordClock& now) {
  const RecordTime titleTime = now();
  std::vector<std::string> lines = {
      "<html>",
      "<head>",
      "<title>" + titleTime.date + titleTime.time + " Test Result:</title>",
      R"(<style type="text/css">)",
      "td{background:#EEEEEE; padding-left:3px; padding-right:3px; width:60; height:30px;}",
      ".td1{background:#CCCCCC}",
      "</style>",
      "</head>",
      "<body>",
  };
  const RecordTime headingTime = now();
  lines.push_back(R"(<p align="center">测试结果 )" + headingTime.date + " " + headingTime.time +
                  "</p><hr /><br />");
  lines.push_back(TableLine(grid));
  lines.push_back("</body>");
  lines.push_back("</html>");
  for (auto& line : lines) line = Utf8ToGbk(line);
  return WriteLines(file, lines);
}

void SaveTestRecordAs(const TestGrid& grid, SaveDialog& dialog, MessageSink& messages,
                      const RecordClock& now) {
  const SaveDialogOptions options{"请保存记录文件：", "测试记录.html", "网页", "*.html"};
  const auto file = dialog.Execute(options);
  if (!file) return;
  messages.ShowMessage(SaveTestRecord(grid, *file, now) ? "文件保存成功!" : "文件保存失败!");
}

}  // namespace orderlink
