#pragma once
// The test record: the statistics grid saved as a small web page (GBK, CR LF, 13
// lines), and the "保存记录" button that asks where to save it. Window thread.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "common/MessageSink.h"
#include "linktest/TestGrid.h"

namespace orderlink {

// Current date and time as the page shows them (UTF-8).
struct RecordTime {
  std::string date;
  std::string time;
};
using RecordClock = std::function<RecordTime()>;

// Writes the page for `grid` to `file` (created or replaced; no extension added).
// `now` is asked twice, for the title and for the heading. False on any failure.
[[nodiscard]] bool SaveTestRecord(const TestGrid& grid, const std::filesystem::path& file,
                                  const RecordClock& now);

// The save dialog: asks before overwriting an existing file, read-only box hidden,
// resizable, no places bar; no default extension.
struct SaveDialogOptions {
  std::string title;          // "请保存记录文件："
  std::string proposedName;   // "测试记录.html"
  std::string filterName;     // "网页"
  std::string filterPattern;  // "*.html"
};
class SaveDialog {
 public:
  virtual ~SaveDialog() = default;
  // The chosen file, or nullopt when the user cancelled.
  virtual std::optional<std::filesystem::path> Execute(const SaveDialogOptions& options) = 0;
};

// "保存记录": runs the dialog and, unless cancelled, saves and reports the result.
void SaveTestRecordAs(const TestGrid& grid, SaveDialog& dialog, MessageSink& messages,
                      const RecordClock& now);

}  // namespace orderlink
