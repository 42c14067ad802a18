#include "Records.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace orderlink::basesim {

namespace {

using Ranges = std::vector<std::pair<std::size_t, std::size_t>>;  // 1-based, inclusive

const Ranges* WireRanges(std::string_view tag) {
  static const Ranges kyqb = {{1, 15}, {16, 35}};
  static const Ranges qcb = {{1, 13}, {14, 14}, {15, 22}};
  static const Ranges contents = {{1, 19}, {20, 48}, {49, 57}, {58, 61}};
  static const Ranges dishes = {{1, 17}, {18, 48}, {49, 57}, {58, 102}, {103, 112}};
  if (tag == "KYQB") return &kyqb;
  if (tag == "QCB ") return &qcb;
  if (tag == "TCPB" || tag == "TJNR") return &contents;
  if (tag == "CPB ") return &dishes;
  return nullptr;
}

// Lead bytes of two-byte characters, found by scanning from the start.
bool StartsDoubleByte(std::string_view text, std::size_t index) {
  std::size_t i = 0;
  while (i < index) {
    const auto byte = static_cast<unsigned char>(text[i]);
    i += (byte >= 0x81 && byte <= 0xFE) ? 2 : 1;
  }
  if (i != index || index >= text.size()) return false;
  const auto byte = static_cast<unsigned char>(text[index]);
  return byte >= 0x81 && byte <= 0xFE;
}

}  // namespace

const std::vector<std::string>& TableTags() {
  static const std::vector<std::string> tags = {"JDMC", "CLB ", "TCB ", "TCPB", "QCB ",
                                                "TLYB", "KYQB", "TJCP", "TJNR", "CPB ",
                                                "KJHM", "PZWJ", "XGMM"};
  return tags;
}

bool IsTableTag(std::string_view code) {
  const auto& tags = TableTags();
  return std::find(tags.begin(), tags.end(), code) != tags.end();
}

std::string WireForm(std::string_view jobLine) {
  if (jobLine.size() < 12) return std::string(jobLine);
  const Ranges* ranges = WireRanges(jobLine.substr(8, 4));
  if (ranges == nullptr) return std::string(jobLine);
  std::string out;
  for (std::size_t i = 0; i < ranges->size(); ++i) {
    if (i > 0) out.push_back(' ');
    const auto [first, last] = (*ranges)[i];
    if (first <= jobLine.size())
      out.append(jobLine.substr(first - 1, std::min(last, jobLine.size()) - first + 1));
  }
  return out;
}

std::optional<std::size_t> WireDataLength(std::string_view tag) {
  if (tag == "JDMC") return 20;
  if (tag == "CLB ") return 12;
  if (tag == "TCB " || tag == "TJCP" || tag == "TLYB") return 22;
  if (tag == "TCPB" || tag == "TJNR") return 52;
  if (tag == "KYQB") return 24;
  if (tag == "CPB ") return 104;
  return std::nullopt;
}

std::string CheckCut(const std::vector<std::size_t>& pieces, std::string_view payload,
                     std::size_t maxPiece) {
  std::size_t pos = 0;
  char text[128];
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const std::size_t remaining = payload.size() - pos;
    const bool last = i + 1 == pieces.size();
    if (!last) {
      if (remaining <= maxPiece) {
        std::snprintf(text, sizeof text,
                      "packet %zu is not the last although only %zu bytes remained", i + 1,
                      remaining);
        return text;
      }
      const std::size_t expected =
          StartsDoubleByte(payload, pos + maxPiece - 1) ? maxPiece - 1 : maxPiece;
      if (pieces[i] != expected) {
        std::snprintf(text, sizeof text, "packet %zu carries %zu bytes, expected %zu", i + 1,
                      pieces[i], expected);
        return text;
      }
    } else if (remaining > maxPiece) {
      std::snprintf(text, sizeof text, "last packet %zu carries %zu bytes, more than %zu", i + 1,
                    remaining, maxPiece);
      return text;
    }
    pos += pieces[i];
  }
  return "";
}

std::string MissingRanges(const std::vector<bool>& have, std::size_t maxGroups,
                          std::size_t maxRecords) {
  std::string out;
  std::size_t groups = 0;
  std::size_t records = 0;
  std::size_t r = 1;
  while (r < have.size() && groups < maxGroups && records < maxRecords) {
    if (have[r]) {
      ++r;
      continue;
    }
    std::size_t n = 0;
    while (r + n < have.size() && !have[r + n] && n < 255 && records + n < maxRecords) ++n;
    char digits[8];
    std::snprintf(digits, sizeof digits, "%05zu", r - 1);
    out += digits;
    out.push_back(static_cast<char>(n));
    ++groups;
    records += n;
    r += n;
  }
  return out;
}

}  // namespace orderlink::basesim
