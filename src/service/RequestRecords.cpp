#include "service/RequestRecords.h"

#include <algorithm>
#include <cassert>
#include <span>

#include "common/Gbk.h"
#include "common/TextFile.h"

namespace orderlink {

namespace {

using Cut = RecordCut;
using Field = RecordField;

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
  const auto kinds = RequestKinds();
  if (index < 0 || index >= static_cast<int>(kinds.size())) return {};
  const RequestKind& k = kinds[static_cast<std::size_t>(index)];
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
