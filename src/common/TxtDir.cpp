#include "common/TxtDir.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace orderlink {

namespace {
bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}
}  // namespace

std::optional<std::filesystem::path> TxtDir::Find(std::string_view name) const {
  std::error_code ec;
  const auto exact = dir_ / std::string(name);
  if (std::filesystem::is_regular_file(exact, ec)) return exact;
  for (std::filesystem::directory_iterator it(dir_, ec), end; !ec && it != end; it.increment(ec)) {
    if (EqualIgnoringAsciiCase(it->path().filename().string(), name) &&
        it->is_regular_file(ec)) {
      return it->path();
    }
  }
  return std::nullopt;
}

std::filesystem::path TxtDir::ForWrite(std::string_view name) const {
  if (auto existing = Find(name)) return *existing;
  return dir_ / std::string(name);
}

}  // namespace orderlink
