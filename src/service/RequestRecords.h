#pragma once
// Request records: the record writer of every request kind turns the request's
// payload into the lines of T1.txt. All 22 writers follow one pattern and differ only
// in their layout (payload size, fields, line format), held in the protocol catalogue
// (RequestKinds), which the integrators' reference (docs/records.md, made by
// tools/recordsdoc) shows too.
//
// Payload offsets count from the first byte after the handset byte; bytes 0-2 are
// the handset text. A payload shorter than its kind's size reads blanks for the
// missing bytes. Lines count bytes (GBK); zero bytes in fields are copied as they stand.

#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "link/Protocol.h"

namespace orderlink {

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
