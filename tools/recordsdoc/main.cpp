// Prints docs/records.md, the integrators' reference of every file and code that
// orderlink and the ordering software exchange, from the program's own tables: the
// request record descriptions the record writers follow (each example record is
// made by the real writer), the download tables, the host codes and texts.
//
// usage: orderlink-recordsdoc > docs/records.md   (cmake --build build --target records_doc)

#include <cctype>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "access/AccessFiles.h"
#include "common/Gbk.h"
#include "common/HostLink.h"
#include "download/DownloadTables.h"
#include "service/RequestDispatch.h"
#include "service/RequestRecords.h"
#include "service/TimeAndMessages.h"

namespace orderlink {
namespace {

std::string Range(std::size_t offset, std::size_t width) {
  return width == 1 ? std::to_string(offset)
                    : std::to_string(offset) + "–" + std::to_string(offset + width - 1);
}

std::string CutText(const RecordField& field) {
  switch (field.cut) {
    case RecordCut::Exact:
      return "as it stands, zero bytes included";
    case RecordCut::UpToZero:
      return "up to its first zero byte (0–4 bytes)";
    case RecordCut::OneByte:
      return "one byte";
    case RecordCut::TextToEnd:
      return "up to the end of the payload, at most " + std::to_string(field.width);
  }
  return {};
}

// The directives of `format` in order, as the padding each applies.
std::vector<std::string> Paddings(std::string_view format) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') continue;
    const bool left = format[++i] == '-';
    if (left) ++i;
    std::size_t width = 0;
    while (format[i] >= '0' && format[i] <= '9') width = width * 10 + (format[i++] - '0');
    out.push_back(width == 0 ? std::string("unchanged")
                             : std::string("blanks ") + (left ? "after" : "before") + " it up to " +
                                   std::to_string(width) + " bytes");
  }
  return out;
}

// A sample of a field: its letter repeated to the width, "2." ended by zero
// bytes for a field read up to zero, "1" for one byte, a wish text for the text.
std::string SampleOf(const RecordField& field, char letter) {
  switch (field.cut) {
    case RecordCut::Exact:
      return std::string(field.width, letter);
    case RecordCut::UpToZero:
      return std::string("2.\0\0", 4);
    case RecordCut::OneByte:
      return "1";
    case RecordCut::TextToEnd:
      return Utf8ToGbk("不要香菜");
  }
  return {};
}

std::string Block(std::size_t size, std::span<const RecordField> fields, char& letter) {
  std::string block(size, ' ');
  for (const RecordField& field : fields) {
    const std::string sample = SampleOf(field, letter++);
    if (field.cut == RecordCut::TextToEnd) block.resize(field.offset);
    block.replace(field.offset, sample.size(), sample);
  }
  return block;
}

void FieldRows(std::span<const RecordField> fields,
               std::vector<std::string>::const_iterator padding, char& letter, const char* where) {
  for (const RecordField& field : fields) {
    std::printf("| %c | `%s` | %s%s | %zu | %s | %s |\n", letter++, std::string(field.name).c_str(),
                where, Range(field.offset, field.width).c_str(), field.width,
                CutText(field).c_str(), (padding++)->c_str());
  }
}

// "tableNumber, dishCode" of the head and item fields; "no field" for none.
std::string FieldNames(const RequestKind& kind) {
  std::string names;
  for (const auto fields : {kind.fields, kind.itemFields}) {
    for (const RecordField& field : fields) {
      names += (names.empty() ? "" : ", ") + std::string(field.name);
    }
  }
  return names.empty() ? "no field" : names;
}

std::string Code(std::string_view code) { return "`" + std::string(code) + "`"; }

void PrintRequestRecords() {
  std::puts(R"(## T1.txt: the request records (orderlink → host, code 1)

orderlink replaces `T1.txt` whole for each request (written beside it and renamed
into place), then sends code 1. The host answers with `R1.txt` and code 1; until then
orderlink keeps the line quiet for up to 15 s. `T1.txt` holds only the latest request.

**Line 1** of every record: the four-character code, one blank, the three-character
handset number (`KT   012`: `K`, `T`, three blanks, `0`, `1`, `2`), 8 bytes.
**The lines after it** are the kind's fields, cut from the request's payload and
joined by its format. Payload offsets count from 0; bytes 0–2 are the handset number.
A payload shorter than its kind's size reads blanks for the missing bytes; nothing
is checked and nothing is ever cut to fit a width. The use of each kind is what the
handsets ask with it: orderlink passes the bytes on without reading them.

| kind | code | use | payload bytes | lines after the first |
|---|---|---|---|---|)");
  const auto kinds = RequestKinds();
  for (std::size_t i = 0; i < kinds.size(); ++i) {
    const RequestKind& k = kinds[i];
    const std::string payload =
        k.itemSize ? std::to_string(k.size) + " + " + std::to_string(k.itemSize) + " per item"
                   : std::to_string(k.size);
    std::printf("| %zu | %s | %s: %s | %s | %s |\n", kFirstRequestKind + i, Code(k.code).c_str(),
                std::string(k.use).c_str(), FieldNames(k).c_str(), payload.c_str(),
                k.itemSize ? "1 per item" : (k.format.empty() ? "0" : "1"));
  }
  for (std::size_t i = 0; i < kinds.size(); ++i) {
    const RequestKind& k = kinds[i];
    std::string use(k.use);
    use[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(use[0])));
    std::printf("\n### %s (kind %zu)\n\n%s.\n\n", Code(k.code).c_str(), kFirstRequestKind + i,
                use.c_str());
    char letter = 'A';
    std::string payload = "007" + Block(k.size, k.fields, letter).substr(3);
    if (k.format.empty()) {
      std::puts("No line after the first.");
    } else {
      const std::vector<std::string> paddings = Paddings(k.format);
      std::printf("Format of the line%s after the first: `%s`\n\n",
                  k.itemSize ? "s (one per item)" : "", std::string(k.format).c_str());
      std::puts(
          "| field | name | payload bytes | width | read | in the line "
          "|\n|---|---|---|---|---|---|");
      char rowLetter = 'A';
      FieldRows(k.fields, paddings.begin(), rowLetter, "");
      FieldRows(k.itemFields, paddings.begin() + k.fields.size(), rowLetter, "item ");
      if (k.itemSize) {
        std::printf(
            "\nItems start at payload byte %zu, one every %zu bytes, as long as the "
            "payload goes on; item offsets count from the item's start.\n",
            k.size, k.itemSize);
        const char itemLetter = letter;
        for (int item = 0; item < 2; ++item) {
          letter = itemLetter;
          payload += Block(k.itemSize, k.itemFields, letter);
        }
      }
    }
    const std::vector<std::string> lines =
        BuildRequestRecord(static_cast<int>(kFirstRequestKind + i), payload);
    std::printf(
        "\nExample: payload of %zu bytes from handset 007 (each field filled with its "
        "letter%s), record:\n\n```\n",
        payload.size(), k.itemSize ? ", two items" : "");
    std::string lengths;
    for (const std::string& line : lines) {
      std::printf("%s\n", GbkToUtf8(line).c_str());
      lengths += (lengths.empty() ? "" : ", ") + std::to_string(line.size());
    }
    std::printf("```\n\nLine lengths in bytes: %s.\n", lengths.c_str());
  }
}

void HostCodes() {
  std::printf(R"(## Host codes

Every notification is a 12-byte datagram `HostNotify` (message %u, wParam 0, lParam the
code), see host-link.md. orderlink also sends one at start (lParam its own port) and
WM_CLOSE (%u) at shutdown.

| code | orderlink sends it when | the host sends it when | the host's file |
|---|---|---|---|
| %d | never (its start-up notice carries its port) | a short message is in `DX.txt` | `DX.txt` |
| %d | a request record is in `T1.txt` | its reply is in `R1.txt` | `R1.txt` |
| %d | the login form wrote `DL.txt` | its verdict is in `DL.txt` | `DL.txt` |
| %d | the user started a menu download | the download tables are written | the tables |

Any other code is ignored. Nobody waits for an answer: a host that does not answer
code 1 leaves the handset without a reply (orderlink polls again after 15 s), and one
that does not answer code 10 leaves the login form open.

)",
              kHostNotifyMessage, kCloseMessage, NotifyShortMessage, NotifyRequest, NotifyLogin,
              NotifyDownload);
}

void ExchangeFiles() {
  std::printf(R"(## R1.txt: the reply (host → orderlink, code 1)

- Line 1, the header: characters 1–4 the code every reply line is sent under,
  characters 6–8 the target handset in decimal (a copy of the request's first line
  will do). Other characters of line 1 are ignored.
- Lines 2 to the end: every line that is not empty is one message to the handset,
  its bytes unchanged (the handset shows the text as it stands, GBK); empty lines are
  skipped. A line longer than one packet goes out in several packets, 150 ms apart
  from the next line.
- After the last line orderlink sends `FHJS`, the end of the reply; a header alone
  sends only `FHJS`. With the header code `DM  ` the lines are not sent: each becomes
  a roll call of the handset.
- orderlink never changes or deletes `R1.txt`: the next code 1 sends it again.

## DX.txt: a short message (host → orderlink, code 0)

Only the first line counts: characters 1–3 the sending handset, 4 a blank, 5–7 the
target handset as `点菜机.txt` writes it, 8 a blank, 9 to the end the text. The
sender gets `DX  ` "%s" and `FHJS`; the target gets `DX  ` with characters 1–4
and the text. A target that is not in `点菜机.txt` gets nothing, and neither does the
sender. A code 0 with no `DX.txt` shows "%s".

## DL.txt: the login of the person at the PC (code 10 both ways)

orderlink writes one line: the user name padded with blanks to at least 4 bytes, a
blank, the password padded to at least 8 bytes (`%%-4s %%-8s`, never cut), and sends
code 10. The host replaces the file: a first line of exactly `1` accepts ("登陆成功！"
is shown), any other first line refuses ("用户名或密码错误，请重新登陆！"). Without an
answer the form stays open. `orderlink DEBUG` accepts any login at once.

`%s` holds the administrator password for the handsets: one line of %zu bytes, the
digits padded with blanks; it is downloaded as table `XGMM`.

## The configuration files

`基站.txt`: one line per base station, at most two. Character 1 the base station
number, 2 a blank, 3–6 the port name (`COM1`…`COM9`); the first line's number picks
the handsets, the last line's digit the port opened.

`点菜机.txt`: one line per handset: characters 1–3 the handset number (`007`), 4 a
blank, 5 its base station's number. Only the handsets of the first base station of
`基站.txt` are polled, at most 256.

)",
              std::string(kShortMessageSent).c_str(), std::string(kNoShortMessageFile).c_str(),
              kAdminPasswordFile, kAdminPasswordBytes);
}

const char* RewriteText(TableRewrite rewrite) {
  switch (rewrite) {
    case TableRewrite::None:
      return "none";
    case TableRewrite::RestaurantName:
      return "first line padded or cut to 20 bytes";
    case TableRewrite::DishName:
      return "dish name of bytes 3–7 inserted after byte 7 (49 bytes)";
    case TableRewrite::ReturnReason:
      return "ten blanks appended";
  }
  return "";
}

void DownloadTables() {
  std::printf(R"(## The download tables (host → orderlink, code 11)

The host writes the tables into `TXT` before it answers code 11. orderlink reads the
ticked ones in this order, checks each line's length in bytes and the line count, and
stops at the first fault with the message shown (a line fault reads the prefix, the
line's number and "行格式不正确").

| # | file | tag | at most lines | line bytes | rewrite | ticked | missing file | too many lines | line fault |
|---|---|---|---|---|---|---|---|---|---|
)");
  int number = 1;
  for (const DownloadTable& t : kDownloadTables) {
    const std::string limit = t.lineLimit >= kMaxTableLines ? "9999" : std::to_string(t.lineLimit);
    const std::string length = t.lineLength ? std::to_string(t.lineLength) : "any";
    std::printf("| %d | `%s` | `%s` | %s | %s | %s | %s | %s | %s | %s |\n", number++, t.fileName,
                t.tag, limit.c_str(), length.c_str(), RewriteText(t.rewrite),
                !t.visible ? "hidden" : (t.tickedAtStart ? "yes" : "no"), t.missingMessage,
                t.tooManyMessage ? t.tooManyMessage : "–",
                t.lineErrorPrefix ? t.lineErrorPrefix : "–");
  }
  std::printf(R"(
## %s: the job file (orderlink)

orderlink joins the ticked tables into `%s`, table after table, one line per record
ended by CR LF: bytes 1–4 the table's line count, 5–8 the record's position in its
table (from 1), both with leading zeros, 9–12 the tag, 13 to the end the line after
the table's rewrite (`0012` `0001` `CLB ` and 12 bytes for the first of 12 category
lines). It is written only when every ticked table passed; a failed preparation
leaves the previous one.
)",
              kJobFileName, kJobFileName);
}

}  // namespace
}  // namespace orderlink

int main() {
  using namespace orderlink;
  std::puts(R"(<!-- Made by orderlink-recordsdoc from the program's own tables. Do not edit:
     cmake --build build --target records_doc -->
# The exchange files, field by field

For integrators who write the ordering software's (the host's) side: every file in
`AppDir/TXT` that orderlink and the host exchange, and the codes that announce them.
How the two programs find each other: host-link.md. All files are GBK text; every
offset, width and length counts bytes (a Chinese character is two). Lines are
written with CR LF; lines read may end with CR LF, CR or LF. File names are matched
without regard to case.
)");
  HostCodes();
  PrintRequestRecords();
  std::puts("");
  ExchangeFiles();
  DownloadTables();
  return std::ferror(stdout) ? 1 : 0;
}
