#include "service/RequestRecords.h"

#include <algorithm>
#include <cassert>
#include <span>

#include "common/Gbk.h"
#include "common/TextFile.h"
#include "service/RequestDispatch.h"

namespace orderlink {

namespace {

enum class Cut {
  Exact,      // the bytes as they stand, exactly the width
  UpToZero,   // a 4-byte field up to its first zero byte
  OneByte,    // a single byte
  TextToEnd,  // the bytes up to the end of the received payload, at most the width
};

struct Field {
  std::size_t offset;
  std::size_t width;
  Cut cut = Cut::Exact;
};

// One request kind. Itemised kinds ("DC  ") have a head of `size` bytes and then
// one line per item of `itemSize` bytes, built from the head fields followed by the
// item fields; the others add at most one line.
struct RecordKind {
  std::string_view code;
  std::size_t size;               // payload bytes read (the head, for itemised kinds)
  std::span<const Field> fields;  // after the handset text
  std::string_view format;        // lines after the first; empty: none
  std::size_t itemSize = 0;
  std::span<const Field> itemFields = {};
};

constexpr Cut kZ = Cut::UpToZero;

constexpr Field kDlFields[] = {{3, 10}, {13, 4}, {17, 8}};
constexpr Field kFourTwoFive[] = {{3, 4}, {7, 2}, {9, 5}};
constexpr Field kSeven[] = {{3, 7}};
constexpr Field kSevenSeven[] = {{3, 7}, {10, 7}};
constexpr Field kSevenFive[] = {{3, 7}, {10, 5}};
constexpr Field kSevenEight[] = {{3, 7}, {10, 8}};
constexpr Field kSevenText[] = {{3, 7}, {10, 12, Cut::TextToEnd}};
constexpr Field kFour[] = {{3, 4}};
constexpr Field kTwo[] = {{3, 2}};
constexpr Field kDcItem[] = {{0, 5}, {5, 4, kZ}, {9, 12}, {21, 2}, {23, 1, Cut::OneByte}, {24, 8}};
constexpr Field kTcFields[] = {{3, 7}, {10, 10}, {20, 4, kZ}, {24, 4, kZ}, {28, 10}};
constexpr Field kJcFields[] = {
    {3, 7}, {10, 5}, {15, 4}, {19, 14}, {33, 4, kZ}, {37, 4}, {41, 1, Cut::OneByte}, {42, 12}};
constexpr Field kZscpFields[] = {{3, 7}, {10, 10}, {20, 4, kZ}, {24, 4, kZ}};
constexpr Field kXgmmFields[] = {{3, 8}, {11, 8}};

// Formats use only "%s", "%-Ns" (blanks on the right) and "%Ns" (blanks on the left).
constexpr RecordKind kKinds[] = {
    {"DL  ", 25, kDlFields, "%-10s %-4s %-8s"},
    {"KT  ", 14, kFourTwoFive, "%s %s %s"},
    {"HT  ", 17, kSevenSeven, "%s %s"},
    {"CT  ", 10, kSeven, "%s"},
    {"XGTT", 14, kFourTwoFive, "%s %s %s"},
    {"YDKT", 14, kFourTwoFive, "%s %s %s"},
    {"ZDCX", 10, kSeven, "%s"},
    {"KHYQ", 22, kSevenText, "%s %-12s"},
    {"DYDC", 10, kSeven, "%s"},
    {"CPCC", 15, kSevenFive, "%s %s"},
    {"CLCC", 18, kSevenEight, "%s %s"},
    {"ZZCC", 10, kSeven, "%s"},
    {"THYD", 7, kFour, "%s"},
    {"LBKX", 5, kTwo, "%s"},
    {"THKX", 7, kFour, "%s"},
    {"YDHZ", 3, {}, ""},
    {"KXHZ", 3, {}, ""},
    {"DC  ", 10, kSeven, "%s %s %-4s %12s %s %s %8s", 32, kDcItem},
    {"TC  ", 38, kTcFields, "%s %s %-4s %s %10s"},
    {"JC  ", 54, kJcFields, "%s %s %s %s %-4s %s %s %s"},
    {"ZSCP", 28, kZscpFields, "%s %s %-4s %s"},
    {"XGMM", 19, kXgmmFields, "%s %s"},
};

constexpr bool CodesMatchTable() {
  for (std::size_t i = 0; i < RequestCodeTable.size(); ++i) {
    if (kKinds[i].code != RequestCodeTable[i]) return false;
  }
  return std::size(kKinds) == RequestCodeTable.size();
}
static_assert(CodesMatchTable(), "one record description per request code, in table order");

// `bytes` with blanks appended up to `size`: what a writer reads of a short payload.
std::string ReadBytes(std::string_view bytes, std::size_t size) {
  std::string out(bytes.substr(0, size));
  out.resize(size, ' ');
  return out;
}

// `block` is the head or item, already blank-filled to its size; `received` is what
// arrived of it (for the text that runs to the payload's end).
std::string CutField(const Field& field, std::string_view block, std::string_view received) {
  switch (field.cut) {
    case Cut::Exact:
    case Cut::OneByte:
      return std::string(block.substr(field.offset, field.width));
    case Cut::UpToZero:
      return FieldUpToZero(block.substr(field.offset, field.width));
    case Cut::TextToEnd:
      if (received.size() <= field.offset) return {};
      return std::string(received.substr(field.offset, field.width));
  }
  return {};
}

void AppendFields(std::span<const Field> fields, std::string_view block, std::string_view received,
                  std::vector<std::string>& out) {
  for (const Field& field : fields) out.push_back(CutField(field, block, received));
}

// Fills the directives of `format` with `values` in order; widths never truncate.
std::string FormatLine(std::string_view format, const std::vector<std::string>& values) {
  std::string line;
  std::size_t next = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') {
      line += format[i];
      continue;
    }
    const bool left = format[++i] == '-';
    if (left) ++i;
    std::size_t width = 0;
    while (format[i] >= '0' && format[i] <= '9') width = width * 10 + (format[i++] - '0');
    assert(format[i] == 's' && next < values.size());
    line += left ? PadRight(values[next], width) : PadLeft(values[next], width);
    ++next;
  }
  assert(next == values.size());
  return line;
}

}  // namespace

std::string FieldUpToZero(std::string_view field) {
  field = field.substr(0, 4);
  return std::string(field.substr(0, std::min(field.find('\0'), field.size())));
}

std::vector<std::string> BuildRequestRecord(int kind, std::string_view payload) {
  const int index = kind - kFirstRequestKind;
  if (index < 0 || index >= static_cast<int>(std::size(kKinds))) return {};
  const RecordKind& k = kKinds[index];
  const std::string head = ReadBytes(payload, k.size);

  // "%-4s %s" of the code and the handset text (always 3 bytes here, so "%-3s"
  // of the login is the same line).
  std::vector<std::string> lines{std::string(k.code) + ' ' + head.substr(0, 3)};
  std::vector<std::string> headValues;
  AppendFields(k.fields, head, payload, headValues);

  if (k.itemSize == 0) {
    if (!k.format.empty()) lines.push_back(FormatLine(k.format, headValues));
    return lines;
  }
  for (std::size_t o = k.size; o < payload.size(); o += k.itemSize) {
    const std::string_view received = payload.substr(o, k.itemSize);
    const std::string item = ReadBytes(received, k.itemSize);
    std::vector<std::string> values = headValues;
    AppendFields(k.itemFields, item, received, values);
    lines.push_back(FormatLine(k.format, values));
  }
  return lines;
}

bool WriteRequestRecord(int kind, std::string_view payload, const std::filesystem::path& path,
                        int* systemError) {
  const std::vector<std::string> lines = BuildRequestRecord(kind, payload);
  if (lines.empty()) return false;
  std::string content;
  for (const std::string& line : lines) content += line + "\r\n";
  return WriteFileAtomically(path, content, systemError);
}

}  // namespace orderlink
