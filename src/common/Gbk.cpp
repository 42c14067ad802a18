#include "common/Gbk.h"

#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <vector>

namespace orderlink {

bool IsGbkLeadByte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }

bool GbkBoundaryScan::IsFirstOfDoubleByte(std::size_t index) {
  while (boundary_ < index) {
    boundary_ += IsGbkLeadByte(static_cast<unsigned char>(text_[boundary_])) ? 2 : 1;
  }
  return boundary_ == index && index < text_.size() &&
         IsGbkLeadByte(static_cast<unsigned char>(text_[index]));
}

bool IsFirstOfDoubleByte(std::string_view text, std::size_t index) {
  return GbkBoundaryScan(text).IsFirstOfDoubleByte(index);
}

std::size_t CutAtCharacter(std::string_view text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return text.size();
  std::size_t i = 0;
  while (i < maxBytes) {
    const std::size_t width = IsGbkLeadByte(static_cast<unsigned char>(text[i])) ? 2 : 1;
    if (i + width > maxBytes) break;
    i += width;
  }
  return i;
}

std::string PadRight(std::string_view text, std::size_t width) {
  std::string out(text);
  if (out.size() < width) out.append(width - out.size(), ' ');
  return out;
}

std::string PadLeft(std::string_view text, std::size_t width) {
  if (text.size() >= width) return std::string(text);
  return std::string(width - text.size(), ' ') + std::string(text);
}

std::string ZeroPadded(long long value, int width) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%0*lld", width, value);
  return buffer;
}

namespace {

// Bytes of the character at `p` that could not be converted, so it becomes one '?'.
std::size_t Utf8CharLength(const char* p, std::size_t left) {
  const auto lead = static_cast<unsigned char>(*p);
  std::size_t n = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  return n <= left ? n : left;
}
std::size_t GbkCharLength(const char* p, std::size_t left) {
  return IsGbkLeadByte(static_cast<unsigned char>(*p)) && left >= 2 ? 2 : 1;
}

// `*complete` (when given) tells whether every character had a counterpart.
std::string Convert(const char* to, const char* from, std::string_view input,
                    std::size_t (*charLength)(const char*, std::size_t), bool* complete = nullptr) {
  if (complete != nullptr) *complete = true;
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    if (complete != nullptr) *complete = false;
    return std::string(input);
  }
  std::string out;
  std::vector<char> buffer(input.size() * 2 + 16);
  char* in = const_cast<char*>(input.data());
  std::size_t inLeft = input.size();
  while (inLeft > 0) {
    char* outPtr = buffer.data();
    std::size_t outLeft = buffer.size();
    const std::size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    out.append(buffer.data(), buffer.size() - outLeft);
    if (rc == static_cast<std::size_t>(-1)) {
      if (errno == E2BIG) continue;
      // A character without a counterpart, or a broken sequence: one '?' for it.
      out.push_back('?');
      if (complete != nullptr) *complete = false;
      const std::size_t skip = charLength(in, inLeft);
      in += skip;
      inLeft -= skip;
    }
  }
  iconv_close(cd);
  return out;
}

}  // namespace

std::string Utf8ToGbk(std::string_view utf8) {
  return Convert("GBK", "UTF-8", utf8, Utf8CharLength);
}
std::optional<std::string> Utf8ToGbkExact(std::string_view utf8) {
  bool complete = false;
  std::string gbk = Convert("GBK", "UTF-8", utf8, Utf8CharLength, &complete);
  if (!complete) return std::nullopt;
  return gbk;
}
std::string GbkToUtf8(std::string_view gbk) { return Convert("UTF-8", "GBK", gbk, GbkCharLength); }

}  // namespace orderlink
