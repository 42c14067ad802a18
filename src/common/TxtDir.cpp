#include "common/TxtDir.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace orderlink {

namespace {
bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}
}  // namespace

std::optional<std::filesystem::path> TxtDir::FindEntry(std::string_view name,
                                                       bool regularFileOnly) const {
  std::error_code ec;
  const auto matches = [&](const std::filesystem::path& path) {
    const auto status = std::filesystem::symlink_status(path, ec);
    if (!std::filesystem::exists(status)) return false;
    return !regularFileOnly || std::filesystem::is_regular_file(path, ec);
  };
  const auto exact = dir_ / std::string(name);
  if (matches(exact)) return exact;
  for (std::filesystem::directory_iterator it(dir_, ec), end; !ec && it != end; it.increment(ec)) {
    if (EqualIgnoringAsciiCase(it->path().filename().string(), name) && matches(it->path())) {
      return it->path();
    }
  }
  return std::nullopt;
}

std::optional<std::filesystem::path> TxtDir::Find(std::string_view name) const {
  // A readable file wins over a same-named directory or broken link in other case.
  if (auto file = FindEntry(name, true)) return file;
  return FindEntry(name, false);
}

std::filesystem::path TxtDir::ForWrite(std::string_view name) const {
  if (auto existing = Find(name)) return *existing;
  return dir_ / std::string(name);
}

}  // namespace orderlink
