#pragma once
// Request records: the record writer of every request kind turns the request's
// payload into the lines of T1.txt. All 22 writers follow one pattern and differ only
// in their description (payload size, fields, line format), held in one table, which
// the integrators' reference (docs/records.md, made by tools/recordsdoc) shows too.
//
// Payload offsets count from the first byte after the handset byte; bytes 0-2 are
// the handset text. A payload shorter than its kind's size reads blanks for the
// missing bytes. Lines count bytes (GBK); zero bytes in fields are copied as they stand.

#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orderlink {

enum class RecordCut {
  Exact,      // the bytes as they stand, exactly the width
  UpToZero,   // a 4-byte field up to its first zero byte
  OneByte,    // a single byte
  TextToEnd,  // the bytes up to the end of the received payload, at most the width
};

// One field, named by its letter in the kind's format: bytes [offset, offset+width)
// of the payload (of the item, for item fields).
struct RecordField {
  std::size_t offset;
  std::size_t width;
  RecordCut cut = RecordCut::Exact;
};

// One request kind. Itemised kinds ("DC  ") have a head of `size` bytes and then
// one line per item of `itemSize` bytes, built from the head fields followed by the
// item fields; the others add at most one line.
struct RequestRecordKind {
  std::string_view code;
  std::string_view use;                 // what the handsets ask with it, and what the fields hold
  std::size_t size;                     // payload bytes read (the head, for itemised kinds)
  std::span<const RecordField> fields;  // after the handset text
  std::string_view format;              // lines after the first; empty: none. Only "%s",
                                        // "%-Ns" (blanks on the right), "%Ns" (on the left)
  std::size_t itemSize = 0;
  std::span<const RecordField> itemFields = {};
};

// The 22 kinds in RequestCodeTable order (kind 10 first).
[[nodiscard]] std::span<const RequestRecordKind> RequestRecordKinds();

// A 4-byte field read up to, not including, its first zero byte: 0 to 4 bytes.
[[nodiscard]] std::string FieldUpToZero(std::string_view field);

// The lines of the record of request `kind` (10..31): the first line is the code,
// a blank and the handset text; the kind's own lines follow. Empty for another kind.
[[nodiscard]] std::vector<std::string> BuildRequestRecord(int kind, std::string_view payload);

// Replaces the file at `path` with the record (every line ending in CR LF). The new
// record is written beside it and renamed into place, so the host never reads half a
// record. False when it could not be written, with the errno of the failure in
// `*systemError` when it is given.
[[nodiscard]] bool WriteRequestRecord(int kind, std::string_view payload,
                                      const std::filesystem::path& path,
                                      int* systemError = nullptr);

}  // namespace orderlink
