#pragma once
// The host datagram layout written out by hand, so the application tests check the
// program's encoding against an independent one.

#include <cstdint>
#include <string>

namespace orderlink::test {

// 12 bytes little-endian: message, wParam, lParam.
inline std::string LittleEndianMessage(std::uint32_t message, std::uint32_t wParam,
                                       std::int32_t lParam) {
  std::string out;
  for (std::uint32_t v : {message, wParam, static_cast<std::uint32_t>(lParam)}) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  }
  return out;
}

}  // namespace orderlink::test
