#pragma once
// Reads the settings file with QSettings after checking it line by line.
// Window thread, at start-up.

#include <filesystem>
#include <string>

#include "app/Settings.h"

namespace orderlink {

struct SettingsFileResult {
  Settings settings;  // empty when the file does not exist
  std::string error;  // the user's message when the file is refused; empty when read
};

[[nodiscard]] SettingsFileResult LoadSettingsFile(const std::filesystem::path& file);

}  // namespace orderlink
