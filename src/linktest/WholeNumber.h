#pragma once
// Whole numbers typed by the user (wait interval, channel, station number, slave
// address) and the handset texts of the handset list.

#include <optional>
#include <string_view>

namespace orderlink {

// Decimal integer with an optional sign, blanks around it allowed; nullopt for
// anything else (empty text, other characters, beyond the 32-bit range).
[[nodiscard]] std::optional<int> ParseWholeNumber(std::string_view text);

}  // namespace orderlink
