#include "service/RequestRecords.h"

#include <algorithm>
#include <cassert>
#include <span>

#include "common/Gbk.h"
#include "common/TextFile.h"
#include "service/RequestDispatch.h"

namespace orderlink {

namespace {

using Cut = RecordCut;
using Field = RecordField;
using RecordKind = RequestRecordKind;

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
    {"DL  ", "a waiter logs in (登录): A waiter, B password, C the handset's software version", 25,
     kDlFields, "%-10s %-4s %-8s"},
    {"KT  ", "open a table (开台): A table, B guests, C waiter", 14, kFourTwoFive, "%s %s %s"},
    {"HT  ", "move to another table (换台): A from table, B to table", 17, kSevenSeven, "%s %s"},
    {"CT  ", "ask about a table (查台): A table", 10, kSeven, "%s"},
    {"XGTT", "change a table's opening (修改台头): A table, B guests, C waiter", 14, kFourTwoFive,
     "%s %s %s"},
    {"YDKT", "open a reserved table (预订开台): A table, B guests, C waiter", 14, kFourTwoFive,
     "%s %s %s"},
    {"ZDCX", "ask for a table's bill (账单查询): A table", 10, kSeven, "%s"},
    {"KHYQ", "a guest's wish (客户要求): A table, B the wish, up to 12 bytes", 22, kSevenText,
     "%s %-12s"},
    {"DYDC", "print a table's order (打印点菜单): A table", 10, kSeven, "%s"},
    {"CPCC", "hurry one dish (菜品催菜): A table, B dish code", 15, kSevenFive, "%s %s"},
    {"CLCC", "hurry a table's dishes (催菜): A table, B 8 bytes (a time)", 18, kSevenEight,
     "%s %s"},
    {"ZZCC", "hurry the whole table (整桌催菜): A table", 10, kSeven, "%s"},
    {"THYD", "a table's reservation (台号预订): A table", 7, kFour, "%s"},
    {"LBKX", "which dishes of a category are free to order (类别可选): A category", 5, kTwo, "%s"},
    {"THKX", "is a table free (台号空闲): A table", 7, kFour, "%s"},
    {"YDHZ", "the reservations (预订汇总): no field", 3, {}, ""},
    {"KXHZ", "the free tables (空闲汇总): no field", 3, {}, ""},
    {"DC  ",
     "order dishes (点菜): A table; per item B dish code, C quantity, D note, E serving "
     "method, F gift flag, G price",
     10, kSeven, "%s %s %-4s %12s %s %s %8s", 32, kDcItem},
    {"TC  ", "order a set meal (套餐): A table, B set meal, C quantity, D count, E price", 38,
     kTcFields, "%s %s %-4s %s %10s"},
    {"JC  ",
     "add a dish (加菜): A table, B dish code, C unit, D note, E quantity, F serving method, "
     "G gift flag, H price",
     54, kJcFields, "%s %s %s %s %-4s %s %s %s"},
    {"ZSCP", "give a dish free (赠送菜品): A table, B dish code, C quantity, D count", 28,
     kZscpFields, "%s %s %-4s %s"},
    {"XGMM", "change the waiter's password (修改密码): A old password, B new password", 19,
     kXgmmFields, "%s %s"},
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

std::span<const RequestRecordKind> RequestRecordKinds() { return kKinds; }

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
