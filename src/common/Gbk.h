#pragma once
// GBK byte helpers. Every length and position on the line and in the data files
// counts GBK bytes; a Chinese character is two bytes (lead byte 0x81..0xFE).

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace orderlink {

// True when the byte at `index` is a lead byte (0x81..0xFE). Plain test, no context.
[[nodiscard]] bool IsGbkLeadByte(unsigned char byte);

// True when byte `index` of `text` is the first byte of a two-byte character.
// Character boundaries are found by scanning from the start: a lead byte takes the
// following byte with it, whatever that byte is.
[[nodiscard]] bool IsFirstOfDoubleByte(std::string_view text, std::size_t index);

// Answers IsFirstOfDoubleByte for positions asked in non-decreasing order, carrying
// the character boundary forward instead of rescanning from the start: one pass over
// the text in all. Keeps a view of `text`, which must outlive it.
class GbkBoundaryScan {
 public:
  explicit GbkBoundaryScan(std::string_view text) : text_(text) {}
  // `index` must not be below the index of the previous call.
  [[nodiscard]] bool IsFirstOfDoubleByte(std::size_t index);

 private:
  std::string_view text_;
  std::size_t boundary_ = 0;  // start of the first character not before the last index
};

// Longest prefix of `text` of at most `maxBytes` bytes that does not end with the
// first half of a two-byte character (characters counted from the start of `text`).
[[nodiscard]] std::size_t CutAtCharacter(std::string_view text, std::size_t maxBytes);

// printf's "%-Ns": text followed by blanks up to `width` bytes; longer text is kept whole.
[[nodiscard]] std::string PadRight(std::string_view text, std::size_t width);
// printf's "%Ns": blanks in front up to `width` bytes; longer text is kept whole.
[[nodiscard]] std::string PadLeft(std::string_view text, std::size_t width);
// Decimal number padded with '0' on the left to `width` digits ("%0Nd").
[[nodiscard]] std::string ZeroPadded(long long value, int width);

// Conversions; bytes that cannot be converted become '?'.
[[nodiscard]] std::string Utf8ToGbk(std::string_view utf8);
[[nodiscard]] std::string GbkToUtf8(std::string_view gbk);
// The GBK form of `utf8`, or nullopt when a character has none (or the UTF-8 is broken).
[[nodiscard]] std::optional<std::string> Utf8ToGbkExact(std::string_view utf8);

}  // namespace orderlink
