#include "access/TypedText.h"

#include <algorithm>

#include "common/Gbk.h"

namespace orderlink {

namespace {

// Length of the UTF-8 sequence that starts with `lead` (1 for a stray byte, so a
// broken sequence is looked at one byte at a time and refused by the conversion).
std::size_t SequenceLength(unsigned char lead) {
  if (lead >= 0xF0 && lead <= 0xF7) return 4;
  if (lead >= 0xE0) return 3;
  if (lead >= 0xC0) return 2;
  return 1;
}

// C0 controls and DEL, and the C1 controls U+0080..U+009F (UTF-8 C2 80..C2 9F).
bool IsControl(std::string_view character) {
  const auto lead = static_cast<unsigned char>(character[0]);
  if (character.size() == 1) return lead < 0x20 || lead == 0x7F;
  return character.size() == 2 && lead == 0xC2 && static_cast<unsigned char>(character[1]) <= 0x9F;
}

// A well-formed sequence can be shown back to the user; stray bytes cannot.
bool IsWellFormed(std::string_view character) {
  const auto lead = static_cast<unsigned char>(character[0]);
  if ((lead >= 0x80 && lead < 0xC0) || lead > 0xF7) return false;
  if (character.size() != SequenceLength(static_cast<unsigned char>(character[0]))) return false;
  return std::all_of(character.begin() + 1, character.end(),
                     [](char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; });
}

}  // namespace

TypedText CheckTypedText(std::string_view fieldName, std::string_view utf8,
                         std::size_t maxGbkBytes) {
  TypedText result;
  const std::string field(fieldName);
  for (std::size_t i = 0; i < utf8.size();) {
    const std::size_t length =
        std::min(SequenceLength(static_cast<unsigned char>(utf8[i])), utf8.size() - i);
    const std::string_view character = utf8.substr(i, length);
    if (IsControl(character)) {
      result.problem = field + "中不能有换行、制表符等控制字符，请重新输入！";
      return result;
    }
    const auto gbk = Utf8ToGbkExact(character);
    if (!gbk) {
      const std::string shown =
          IsWellFormed(character) ? "字符“" + std::string(character) + "”" : "无法识别的字符";
      result.problem = field + "中的" + shown + "不能用GBK保存，请删去它后重新输入！";
      return result;
    }
    result.gbk += *gbk;
    i += length;
  }
  if (maxGbkBytes != 0 && result.gbk.size() > maxGbkBytes) {
    result.problem =
        field + "最多" + std::to_string(maxGbkBytes) + "个字节（一个汉字占两个字节），请重新输入！";
  }
  return result;
}

}  // namespace orderlink
