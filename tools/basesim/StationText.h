#pragma once
// Small helpers the station's parts share: how bytes and GBK text appear in log
// lines, and checks on the digits and lists a frame names.

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "common/Gbk.h"

namespace orderlink::basesim {

// Bytes as upper-case hex pairs separated by blanks ("FF AA 55").
[[nodiscard]] std::string Hex(std::string_view bytes);

// GBK text for the log: UTF-8, control bytes shown as '.'.
[[nodiscard]] std::string Show(std::string_view gbk);

// A handset number as three digits (007).
[[nodiscard]] inline std::string Number3(int n) { return ZeroPadded(n, 3); }

[[nodiscard]] bool AllDigits(std::string_view text);

template <typename T>
[[nodiscard]] bool Contains(const std::vector<T>& list, T value) {
  return std::find(list.begin(), list.end(), value) != list.end();
}

}  // namespace orderlink::basesim
