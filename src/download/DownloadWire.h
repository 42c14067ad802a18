#pragma once
// What a download puts on the line: the wire form of a job line, the payload of
// the opening frame kCodeDownloadOpening, the records a handset asks to have resent
// (kCodeDownloadRecordsMissing), and the texts that show the progress. Pure functions over GBK
// bytes.

#include <string>
#include <string_view>
#include <vector>

namespace orderlink {

// The job line with one blank inserted between the fields of the tables whose
// handsets expect them (kTagCustomerRequests, kTagServingModes, kTagSetMealContents,
// kTagRecommendedDishContents, kTagDishes); other tags are unchanged. Field ranges past the end of
// the line yield only the bytes that exist.
[[nodiscard]] std::string ToWireForm(std::string_view jobLine);

// Title of a table tag in progress texts (kTagDishes -> "菜品表"); "" for an unknown tag.
[[nodiscard]] std::string TableTitle(std::string_view tag);

// Payload of kCodeDownloadOpening: the job file's line count (5 digits), the number of tables
// (2 digits) and their tags.
[[nodiscard]] std::string QbksPayload(std::size_t jobLineCount,
                                      const std::vector<std::string>& tags);

// A record to resend: the job line and its five-digit record number.
struct ResendEntry {
  std::string jobLine;
  std::string recordNumber;
};

inline constexpr std::size_t kMaxResendEntries = 501;

// The records asked for by the content of a kCodeDownloadRecordsMissing answer (after the handset
// byte): groups of five ASCII digits d and one count byte n ask for the job lines
// d+1 .. d+n. A trailing part shorter than a group is ignored, a group whose
// digits are not digits is skipped, ranges are cut at the end of the job file,
// and no more than kMaxResendEntries entries are taken.
[[nodiscard]] std::vector<ResendEntry> ReadResendRanges(std::string_view content,
                                                        const std::vector<std::string>& jobLines);

// "正在下载<title>...      第<pos>条/共<count>条" for a job line (UTF-8).
[[nodiscard]] std::string RecordProgressText(std::string_view jobLine);

}  // namespace orderlink
