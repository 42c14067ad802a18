#include "download/DownloadWire.h"

#include <initializer_list>

#include "common/Gbk.h"
#include "common/WholeNumber.h"
#include "download/DownloadTables.h"
#include "link/Protocol.h"

namespace orderlink {

namespace {

struct Field {
  std::size_t first;  // 1-based byte positions of the job line, inclusive
  std::size_t last;
};

std::string JoinFields(std::string_view line, std::initializer_list<Field> fields) {
  std::string out;
  out.reserve(line.size() + fields.size());
  bool firstField = true;
  for (const Field& f : fields) {
    if (!firstField) out += ' ';
    firstField = false;
    if (f.first <= line.size()) out += line.substr(f.first - 1, f.last - f.first + 1);
  }
  return out;
}

}  // namespace

std::string ToWireForm(std::string_view jobLine) {
  const std::string_view tag = jobLine.size() >= 12 ? jobLine.substr(8, 4) : std::string_view();
  if (tag == kTagCustomerRequests) return JoinFields(jobLine, {{1, 15}, {16, 35}});
  if (tag == kTagServingModes) return JoinFields(jobLine, {{1, 13}, {14, 14}, {15, 22}});
  if (tag == kTagSetMealContents || tag == kTagRecommendedDishContents) {
    return JoinFields(jobLine, {{1, 19}, {20, 48}, {49, 57}, {58, 61}});
  }
  if (tag == kTagDishes) {
    return JoinFields(jobLine, {{1, 17}, {18, 48}, {49, 57}, {58, 102}, {103, 112}});
  }
  return std::string(jobLine);
}

std::string TableTitle(std::string_view tag) {
  for (const DownloadTable& table : kDownloadTables) {
    if (tag == table.tag) return table.title;
  }
  return {};
}

std::string QbksPayload(std::size_t jobLineCount, const std::vector<std::string>& tags) {
  std::string payload = ZeroPadded(static_cast<long long>(jobLineCount), 5) +
                        ZeroPadded(static_cast<long long>(tags.size()), 2);
  for (const auto& tag : tags) payload += tag;
  return payload;
}

std::vector<ResendEntry> ReadResendRanges(std::string_view content,
                                          const std::vector<std::string>& jobLines) {
  std::vector<ResendEntry> entries;
  const std::size_t groups = content.size() / 6;
  for (std::size_t g = 0; g < groups && entries.size() < kMaxResendEntries; ++g) {
    const std::string_view digits = content.substr(g * 6, 5);
    if (!AllDigits(digits)) continue;
    const auto first = static_cast<std::size_t>(*ParseWholeNumber(digits));
    const std::size_t n = static_cast<unsigned char>(content[g * 6 + 5]);
    for (std::size_t k = 0; k < n && entries.size() < kMaxResendEntries; ++k) {
      const std::size_t position = first + k + 1;  // 1-based line of the job file
      if (position > jobLines.size()) break;
      entries.push_back({jobLines[position - 1], ZeroPadded(static_cast<long long>(position), 5)});
    }
  }
  return entries;
}

std::string RecordProgressText(std::string_view jobLine) {
  const std::string head = PadRight(jobLine.substr(0, 12), 12);
  return "正在下载" + TableTitle(head.substr(8, 4)) + "...      第" + head.substr(4, 4) + "条/共" +
         head.substr(0, 4) + "条";
}

}  // namespace orderlink
