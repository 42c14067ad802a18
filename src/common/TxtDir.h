#pragma once
// The data directory AppDir/TXT. File names on disk are UTF-8; a data file is found
// without regard to the case of its name, and a file that is written keeps the
// spelling of the existing file (the canonical name when none exists).

#include <filesystem>
#include <optional>
#include <string_view>

namespace orderlink {

class TxtDir {
 public:
  explicit TxtDir(std::filesystem::path appDir) : dir_(std::move(appDir) / "TXT") {}

  [[nodiscard]] const std::filesystem::path& Path() const { return dir_; }
  // The entry whose name equals `name` (UTF-8) without regard to ASCII case: a
  // regular file (or a link to one) if there is one, else whatever stands there (a
  // directory, a broken link ...), so that a reader can say why it cannot read it.
  // nullopt only when no entry of that name exists.
  [[nodiscard]] std::optional<std::filesystem::path> Find(std::string_view name) const;
  // Where to write `name`: the existing file of that name in any case, else dir/name.
  [[nodiscard]] std::filesystem::path ForWrite(std::string_view name) const;

 private:
  [[nodiscard]] std::optional<std::filesystem::path> FindEntry(std::string_view name,
                                                               bool regularFileOnly) const;

  std::filesystem::path dir_;
};

}  // namespace orderlink
