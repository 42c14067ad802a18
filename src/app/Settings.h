#pragma once
// The settings of an installed orderlink: the settings file
// $XDG_CONFIG_HOME/orderlink/orderlink.conf (INI, NAME=VALUE lines) and the XDG base
// folders. Plain C++; the file is checked line by line here (QSettings cannot name
// the line of a fault) and read with QSettings in SettingsFileQt.
//
// Set once on the window thread at start-up, before any port opens; read-only
// afterwards from any thread.

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace orderlink {

struct Settings {
  std::optional<std::filesystem::path> appDir;     // AppDir=
  std::map<int, std::string> comDevices;           // COM<n>= by n (1..9)
  std::optional<std::filesystem::path> traceFile;  // Trace=
};

// A line of the settings file that is refused: 1-based line number, UTF-8 reason.
struct SettingsFault {
  int line = 0;
  std::string reason;
};

// Checks the whole text of a settings file. Accepted: blank lines, comments
// (# or ;), the section [General], and AppDir, Trace, COM1..COM9 each at most once
// with an absolute path as value. nullopt when the text is accepted.
[[nodiscard]] std::optional<SettingsFault> CheckSettingsText(std::string_view text);

// The user's message for a refused settings file (names the file and line).
[[nodiscard]] std::string SettingsFaultMessage(const std::filesystem::path& file,
                                               const SettingsFault& fault);

// An XDG base folder: $`variable` when it holds an absolute path, else
// $HOME/`fallbackUnderHome` (the user database's home when HOME is unset).
[[nodiscard]] std::filesystem::path XdgBaseDir(const char* variable,
                                               std::string_view fallbackUnderHome);
[[nodiscard]] std::filesystem::path SettingsFilePath();  // .../orderlink/orderlink.conf
[[nodiscard]] std::filesystem::path LogDir();            // $XDG_STATE_HOME/orderlink

// Where AppDir comes from, first match wins.
struct AppDirSources {
  std::string environment;                        // $ORDERLINK_APPDIR, empty when unset
  std::optional<std::filesystem::path> settings;  // AppDir= of the settings file
  std::filesystem::path executableDir;            // used when it holds TXT
  std::filesystem::path userDataDir;              // $XDG_DATA_HOME/orderlink
};
struct AppDirChoice {
  std::filesystem::path dir;
  bool userDataFallback = false;  // none of the others matched
};
[[nodiscard]] AppDirChoice ChooseAppDir(const AppDirSources& sources);
// The sources of this process: environment, ProcessSettings(), /proc/self/exe, XDG.
[[nodiscard]] AppDirSources ProcessAppDirSources();

// Makes `appDir`/TXT when it is missing. Returns the user's message when it made
// the folder (what belongs there) or could not make it; nullopt when it existed.
[[nodiscard]] std::optional<std::string> PrepareUserDataDir(const std::filesystem::path& appDir);

void SetProcessSettings(Settings settings);
[[nodiscard]] const Settings& ProcessSettings();

}  // namespace orderlink
