#pragma once
// The menu tables a download sends and the job file they are joined into.
//
// A job line is "cccc" "pppp" "TAG " data: the source table's line count and the
// record's position in its table (four digits each), the table tag, then the
// source line after the table's rewrite. join.txt holds the job lines of every
// ticked table, in table order, each ended by CR LF. All bytes are GBK; the
// messages are UTF-8. Plain functions, no thread of their own.

#include <array>
#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/TxtDir.h"

namespace orderlink {

inline constexpr int kDownloadTableCount = 13;
inline constexpr char kJobFileName[] = "join.txt";
inline constexpr char kDishTableFile[] = "菜品表.txt";

// How a source line is turned into record data.
enum class TableRewrite {
  None,
  RestaurantName,  // first line padded or cut to 20 bytes; further lines kept unchanged
  DishName,        // bytes 1-7, the dish name of bytes 3-7 (20 bytes), bytes 8-29
  ReturnReason,    // ten blanks appended
};

struct DownloadTable {
  const char* boxName;  // objectName of its check box on the download page
  const char* caption;
  const char* fileName;  // in TXT
  const char* tag;       // four characters
  const char* title;     // name of the table in progress texts
  int lineLimit;         // largest accepted line count
  int lineLength;        // required source line length in bytes; 0 = any
  TableRewrite rewrite;
  bool visible;
  bool tickedAtStart;
  const char* missingMessage;
  const char* tooManyMessage;  // nullptr: the table refuses 10000 lines or more instead
  const char* lineErrorPrefix;
};

// The thirteen tables in the order they are processed and joined.
extern const std::array<DownloadTable, kDownloadTableCount> kDownloadTables;

// Count and position fields hold four digits.
inline constexpr int kMaxTableLines = 9999;

// Dish names of 菜品表.txt by their five-byte code (the first line of a code wins).
class DishNameIndex {
 public:
  explicit DishNameIndex(const std::vector<std::string>& dishLines);
  // The 20-byte name of `code`, or the code followed by 15 blanks when no line has it.
  [[nodiscard]] std::string LookupDishName(std::string_view code) const;

 private:
  std::unordered_map<std::string, std::string> names_;
};

struct RegisteredTable {
  std::string tag;
  std::filesystem::path path;
};

struct PreparedDownload {
  // Empty on success, else the one message to show.
  std::string error;
  // Tables registered before the end (the failing one included), in order.
  std::vector<RegisteredTable> tables;
  std::vector<std::string> jobLines;
};

// Checks and rewrites every ticked table (index as in kDownloadTables) and builds
// the job lines. Reads only; stops at the first failure.
[[nodiscard]] PreparedDownload PrepareDownload(const TxtDir& txt,
                                               const std::array<bool, kDownloadTableCount>& ticked);

// The job file's content: every line followed by CR LF.
[[nodiscard]] std::string JobFileBytes(const std::vector<std::string>& jobLines);

}  // namespace orderlink
