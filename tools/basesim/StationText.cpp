#include "StationText.h"

#include <cstdio>

namespace orderlink::basesim {

std::string Hex(std::string_view bytes) {
  std::string out;
  char text[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(text, sizeof text, i == 0 ? "%02X" : " %02X",
                  static_cast<unsigned char>(bytes[i]));
    out += text;
  }
  return out;
}

std::string Show(std::string_view gbk) {
  std::string text = GbkToUtf8(gbk);
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20) c = '.';
  }
  return text;
}

bool AllDigits(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace orderlink::basesim
