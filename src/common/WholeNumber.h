#pragma once
// Whole numbers in text: typed by the user (wait interval, channel, station number,
// slave address), in files (handset numbers, reply targets, resend ranges) and on
// the command line. Pure functions.

#include <optional>
#include <string_view>

namespace orderlink {

// True when `text` is not empty and holds only the ASCII digits 0-9 (no sign, no blank).
[[nodiscard]] bool AllDigits(std::string_view text);

// Decimal integer with an optional sign, blanks around it allowed; nullopt for
// anything else (empty text, other characters, beyond the 32-bit range).
[[nodiscard]] std::optional<int> ParseWholeNumber(std::string_view text);

}  // namespace orderlink
