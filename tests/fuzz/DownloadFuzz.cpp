// Menu download from any set of table files: the job lines keep the layout the
// handsets rely on, the job file reads back as the same lines, every record goes
// out as well-formed record packets that carry its wire form, and a resend request
// of any content only ever names job lines that exist, under their own numbers.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "common/Gbk.h"
#include "common/TextFile.h"
#include "download/DownloadTables.h"
#include "download/DownloadWire.h"
#include "link/FrameCodec.h"

namespace orderlink {
namespace {

constexpr std::size_t kHeadBytes = 12;  // count, position, tag

// Record data bytes a table's rewrite leaves, or 0 when any length passes.
std::size_t RecordDataLength(const DownloadTable& table) {
  switch (table.rewrite) {
    case TableRewrite::DishName:
      return 49;
    case TableRewrite::ReturnReason:
      return 22;
    case TableRewrite::RestaurantName:
      return 20;
    case TableRewrite::None:
      return static_cast<std::size_t>(table.lineLength);
  }
  return 0;
}

// Walks the job lines of one table; returns the index after them.
std::size_t CheckTableLines(const DownloadTable& table, const std::vector<std::string>& source,
                            const std::vector<std::string>& jobLines, std::size_t next) {
  const std::string count = ZeroPadded(static_cast<long long>(source.size()), 4);
  const std::size_t headed = table.rewrite == TableRewrite::RestaurantName ? 1 : source.size();
  for (std::size_t j = 0; j < headed; ++j, ++next) {
    fuzz::Require(next < jobLines.size(), "one job line per source line");
    const std::string& line = jobLines[next];
    fuzz::Require(
        line.compare(0, kHeadBytes,
                     count + ZeroPadded(static_cast<long long>(j + 1), 4) + table.tag) == 0,
        "job line head: count, position, tag");
    const std::string_view data = std::string_view(line).substr(kHeadBytes);
    const std::size_t length = RecordDataLength(table);
    fuzz::Require(length == 0 ? data == source[j] : data.size() == length, "record data length");
    if (table.rewrite == TableRewrite::DishName) {
      fuzz::Require(data.substr(0, 7) == std::string_view(source[j]).substr(0, 7) &&
                        data.substr(27) == std::string_view(source[j]).substr(7),
                    "the dish name is inserted after byte 7");
    }
    if (table.rewrite == TableRewrite::RestaurantName) {
      // Only a cut is kept clear of a character's first half; a name of 20 bytes or
      // fewer is sent as written.
      const std::string_view name = source[j];
      fuzz::Require(name.size() > 20 ? !IsFirstOfDoubleByte(data, data.size() - 1)
                                     : data.substr(0, name.size()) == name,
                    "the name is cut on a character or kept whole");
    }
  }
  if (table.rewrite == TableRewrite::RestaurantName) {
    for (std::size_t j = 1; j < source.size(); ++j, ++next) {
      fuzz::Require(next < jobLines.size() && jobLines[next] == source[j],
                    "further name lines unchanged");
    }
  }
  return next;
}

// The wire form of the split tables: blanks between the fields, and nothing past
// the last field (a longer line, such as a further restaurant-name line that looks
// like a dish record, loses its tail).
struct WireLayout {
  std::string_view tag;
  std::size_t blanks;
  std::size_t lastByte;
};
constexpr WireLayout kWireLayouts[] = {
    {"KYQB", 1, 35}, {"QCB ", 2, 22}, {"TCPB", 3, 61}, {"TJNR", 3, 61}, {"CPB ", 4, 112}};

std::size_t ExpectedWireSize(std::string_view jobLine) {
  if (jobLine.size() < kHeadBytes) return jobLine.size();
  for (const WireLayout& layout : kWireLayouts) {
    if (jobLine.substr(8, 4) == layout.tag)
      return std::min(jobLine.size(), layout.lastByte) + layout.blanks;
  }
  return jobLine.size();
}

void CheckRecordPackets(const std::string& jobLine, std::string_view recordNumber) {
  const std::string wire = ToWireForm(jobLine);
  if (jobLine.size() >= kHeadBytes) {
    fuzz::Require(wire.compare(0, kHeadBytes, jobLine, 0, kHeadBytes) == 0,
                  "the head is never changed");
  }
  fuzz::Require(wire.size() == ExpectedWireSize(jobLine), "wire form size");
  const std::string_view data =
      wire.size() > kHeadBytes ? std::string_view(wire).substr(kHeadBytes) : "";
  const auto packets = EncodeRecord(0, recordNumber, wire);
  fuzz::Require(packets.empty() == data.empty(), "a record without data is not sent");
  std::string joined;
  for (std::size_t i = 0; i < packets.size(); ++i) {
    const std::string& p = packets[i];
    fuzz::Require(p.size() > 26 && p.size() <= 6 + 20 + kRecordPiece, "record packet size");
    fuzz::Require(p.compare(0, 5, std::string("\0\0\0\xC0\x02", 5)) == 0,
                  "record preamble, route C0, long");
    fuzz::Require(static_cast<std::uint8_t>(p[5]) == p.size() - 6, "record packet length byte");
    fuzz::Require(p[6] == 0 && static_cast<std::uint8_t>(p[7]) == i + 1, "address and sequence");
    fuzz::Require(p[8] == (i + 1 < packets.size() ? 1 : 0), "more flag on all but the last");
    fuzz::Require(p.compare(9, 4, wire, 8, 4) == 0 && p.compare(13, 5, recordNumber) == 0 &&
                      p.compare(18, 4, wire, 0, 4) == 0 && p.compare(22, 4, wire, 4, 4) == 0,
                  "tag, record number, count and position in every packet");
    joined += p.substr(26);
    if (i + 1 < packets.size()) {
      fuzz::Require(!IsFirstOfDoubleByte(joined, joined.size() - 1), "a piece ends on a character");
    }
  }
  fuzz::Require(joined == data, "the packets carry the record data");
  (void)RecordProgressText(jobLine);
}

void CheckResend(std::string_view content, const std::vector<std::string>& jobLines) {
  const auto entries = ReadResendRanges(content, jobLines);
  fuzz::Require(entries.size() <= kMaxResendEntries, "the resend list keeps its size");
  std::size_t asked = 0;
  for (std::size_t g = 0; g + 6 <= content.size(); g += 6)
    asked += static_cast<std::uint8_t>(content[g + 5]);
  fuzz::Require(entries.size() <= asked, "no more entries than asked for");
  for (const auto& entry : entries) {
    fuzz::Require(entry.recordNumber.size() == 5, "five-digit record number");
    const std::size_t number = std::stoul(entry.recordNumber);
    fuzz::Require(number >= 1 && number <= jobLines.size() && entry.jobLine == jobLines[number - 1],
                  "an entry is the job line of its number");
  }
}

}  // namespace
}  // namespace orderlink

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orderlink;
  static const fuzz::ScratchAppDir appDir;
  FuzzedDataProvider provider(data, size);
  const auto tickBits = provider.ConsumeIntegral<std::uint16_t>();
  const std::string resendContent = provider.ConsumeRandomLengthString(64);

  std::array<bool, kDownloadTableCount> ticked{};
  bool needsDishes = false;
  for (int i = 0; i < kDownloadTableCount; ++i) {
    ticked[i] = (tickBits >> i) & 1;
    needsDishes |= ticked[i] && kDownloadTables[i].rewrite == TableRewrite::DishName;
  }
  std::array<std::vector<std::string>, kDownloadTableCount> sources;
  for (int i = 0; i < kDownloadTableCount; ++i) {
    const DownloadTable& table = kDownloadTables[i];
    const bool used =
        ticked[i] || (needsDishes && std::string_view(table.fileName) == kDishTableFile);
    if (used && provider.ConsumeBool()) {
      const std::string content = provider.ConsumeRandomLengthString(4096);
      appDir.Put(table.fileName, content);
      sources[i] = SplitLines(content);
    } else {
      appDir.Remove(table.fileName);
    }
  }

  const PreparedDownload prepared = PrepareDownload(appDir.Txt(), ticked);
  if (!prepared.error.empty()) return 0;

  std::vector<std::string> tags;
  std::size_t next = 0;
  for (int i = 0; i < kDownloadTableCount; ++i) {
    if (!ticked[i]) continue;
    fuzz::Require(tags.size() < prepared.tables.size() &&
                      prepared.tables[tags.size()].tag == kDownloadTables[i].tag,
                  "every ticked table registered in order");
    tags.push_back(kDownloadTables[i].tag);
    next = CheckTableLines(kDownloadTables[i], sources[i], prepared.jobLines, next);
  }
  fuzz::Require(tags.size() == prepared.tables.size() && next == prepared.jobLines.size(),
                "nothing but the ticked tables");
  fuzz::Require(SplitLines(JobFileBytes(prepared.jobLines)) == prepared.jobLines,
                "the job file reads back");
  fuzz::Require(QbksPayload(prepared.jobLines.size(), tags).size() == 7 + 4 * tags.size(),
                "QBKS payload size");
  for (std::size_t i = 0; i < prepared.jobLines.size(); ++i) {
    CheckRecordPackets(prepared.jobLines[i], ZeroPadded(static_cast<long long>(i + 1), 5));
  }
  CheckResend(resendContent, prepared.jobLines);
  return 0;
}
