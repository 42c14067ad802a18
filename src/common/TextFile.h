#pragma once
// Text files of the TXT directory: GBK bytes, lines ending in CR LF, CR or LF.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orderlink {

// Splits at CR LF, CR or LF. A final line break adds no empty line; "" gives no lines.
[[nodiscard]] std::vector<std::string> SplitLines(std::string_view content);

// Whole file as bytes; nullopt when it cannot be opened.
[[nodiscard]] std::optional<std::string> ReadFileBytes(const std::filesystem::path& path);
// Lines of the file; nullopt when it cannot be opened.
[[nodiscard]] std::optional<std::vector<std::string>> ReadLines(const std::filesystem::path& path);

// Writes every line followed by CR LF, replacing the file. False on any failure.
[[nodiscard]] bool WriteLines(const std::filesystem::path& path, const std::vector<std::string>& lines);
// Replaces the file with `bytes`. False on any failure.
[[nodiscard]] bool WriteFileBytes(const std::filesystem::path& path, std::string_view bytes);
// Writes to a temporary file beside `path` and renames it into place, so that a
// failure leaves the previous file untouched. False on any failure.
[[nodiscard]] bool WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes);

}  // namespace orderlink
