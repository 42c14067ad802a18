#pragma once
// What a handset knows about the records of a menu download: the table tags, the
// form in which a job line travels (blanks between fields), the record length each
// table must have on the air, and the check that a packet cut was made where the PC
// must cut. Written independently of the program's own encoder, so that the
// simulator checks the program instead of agreeing with it.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orderlink::basesim {

// The thirteen table tags in download order.
[[nodiscard]] const std::vector<std::string>& TableTags();
[[nodiscard]] bool IsTableTag(std::string_view code);

// A job line (count, position, tag, record data) with the blanks that the tag's
// fields get on the air.
[[nodiscard]] std::string WireForm(std::string_view jobLine);

// Length of a record's data on the air for tables of fixed width; nullopt for the
// tables without a width rule.
[[nodiscard]] std::optional<std::size_t> WireDataLength(std::string_view tag);

// Checks that a message was cut into `pieces` (their lengths, in order) as the PC
// must cut it: every packet but the last carries `maxPiece` bytes, or one less when
// the next byte would be the second half of a two-byte character; a packet is the
// last exactly when no more than `maxPiece` bytes remain. Returns "" when right,
// else what is wrong.
[[nodiscard]] std::string CheckCut(const std::vector<std::size_t>& pieces, std::string_view payload,
                                   std::size_t maxPiece);

// Groups of an "XZCC" answer for the records missing from `have` (have[r] true when
// record r arrived; index 0 unused): five digits d (first missing record - 1) and a
// count byte n, at most `maxGroups` groups and `maxRecords` records in all.
[[nodiscard]] std::string MissingRanges(const std::vector<bool>& have, std::size_t maxGroups,
                                        std::size_t maxRecords);

}  // namespace orderlink::basesim
