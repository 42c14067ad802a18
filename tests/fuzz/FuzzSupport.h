#pragma once
// Shared by the fuzz targets: a failed property is logged and stops the run with a
// trap, so libFuzzer keeps the input as a crash; a scratch AppDir for targets that
// go through files.

#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "common/Log.h"
#include "common/TextFile.h"
#include "common/TxtDir.h"

namespace orderlink::fuzz {

inline void Require(bool holds, std::string_view property) {
  if (holds) return;
  LogError(std::string("fuzz property failed: ") + std::string(property));
  __builtin_trap();
}

// One AppDir with an empty TXT folder per process, removed when the process ends.
class ScratchAppDir {
 public:
  ScratchAppDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "orderlink-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) Require(false, "a scratch directory can be made");
    path_ = pattern;
    std::filesystem::create_directory(path_ / "TXT");
  }
  ~ScratchAppDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  [[nodiscard]] TxtDir Txt() const { return TxtDir(path_); }
  // Writes `bytes` as TXT/<name> (a UTF-8 name).
  void Put(std::string_view name, std::string_view bytes) const {
    Require(WriteFileBytes(path_ / "TXT" / std::string(name), bytes),
            "a scratch file can be written");
  }
  void Remove(std::string_view name) const {
    std::error_code ignored;
    std::filesystem::remove(path_ / "TXT" / std::string(name), ignored);
  }

 private:
  std::filesystem::path path_;
};

}  // namespace orderlink::fuzz
