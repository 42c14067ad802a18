#pragma once
// Text that the user typed or pasted into a field whose content goes into a TXT file
// (GBK, one record per line). A line break would split the record and any control
// character corrupts it, and a character GBK has no code for cannot be stored: such
// text is refused with a message instead of being changed silently. Pure functions.

#include <cstddef>
#include <string>
#include <string_view>

namespace orderlink {

struct TypedText {
  std::string gbk;      // the text as GBK bytes; meaningful when `problem` is empty
  std::string problem;  // UTF-8 message naming `fieldName` and what to change; empty when fine
  [[nodiscard]] bool Ok() const { return problem.empty(); }
};

// Checks `utf8` (the field's text) for storing. `maxGbkBytes` 0 means no length limit;
// otherwise the GBK form may hold at most that many bytes (a Chinese character is two).
[[nodiscard]] TypedText CheckTypedText(std::string_view fieldName, std::string_view utf8,
                                       std::size_t maxGbkBytes = 0);

}  // namespace orderlink
