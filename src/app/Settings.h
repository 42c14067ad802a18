#pragma once
// The settings of an installed orderlink: the settings file
// $XDG_CONFIG_HOME/orderlink/orderlink.conf (NAME=VALUE lines) and the XDG base
// folders. Plain C++; the file is read once, line by line, by the parser that also
// names the line of a fault.
//
// A line of the file: blank; a comment (first character # or ;); the section
// [General]; or NAME=VALUE. Blanks around NAME and VALUE are dropped, and a # after
// a blank starts a comment that runs to the end of the line ("AppDir=/srv/a # main"
// is /srv/a; "/srv/a#1" keeps its #). A value in double quotes is taken as written
// between the first and the last quote, so any path can be given
// (COM1="/dev/serial/by-id/usb-x # 1"); after the closing quote only blanks or a
// comment may follow. Nothing else in a value is special: , ; \ " are characters.
//
// Set once on the window thread at start-up, before any port opens; read-only
// afterwards from any thread.

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "link/ConfiguredComDevices.h"

namespace orderlink {

// TraceMax= when the file does not set it: 64 MiB.
inline constexpr std::uint64_t kDefaultTraceMaxBytes = 64ull << 20;

struct Settings {
  std::filesystem::path file;                           // the file read; empty when there was none
  std::optional<std::filesystem::path> appDir;          // AppDir=
  std::map<int, std::string> comDevices;                // COM<n>= by n (1..9)
  std::optional<std::filesystem::path> traceFile;       // Trace=
  std::uint64_t traceMaxBytes = kDefaultTraceMaxBytes;  // TraceMax=; 0: no limit
  bool verbose = false;                                 // Verbose=
  std::map<std::string, int, std::less<>> lineOf;       // NAME -> its line in `file`
};

// A line of the settings file that is refused: 1-based line number, UTF-8 reason.
struct SettingsFault {
  int line = 0;
  std::string reason;
};

struct SettingsText {
  Settings settings;                   // what the accepted lines set
  std::optional<SettingsFault> fault;  // the first refused line; settings are then unused
};

// Parses the whole text of a settings file. Names: AppDir, Trace, COM1..COM9 (an
// absolute path each), TraceMax (bytes, with an optional K, M or G for KiB, MiB,
// GiB; 0 for no limit), Verbose (yes/no, true/false, on/off, 1/0); each at most once.
[[nodiscard]] SettingsText ParseSettingsText(std::string_view text);

struct SettingsFileResult {
  Settings settings;  // empty when the file does not exist
  std::string error;  // the user's message when the file is refused; empty when read
};
// Reads and parses `file`; a missing file is no settings.
[[nodiscard]] SettingsFileResult LoadSettingsFile(const std::filesystem::path& file);

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
  std::string settingsLine;                       // "<file> line <n>" of AppDir=
};
struct AppDirChoice {
  std::filesystem::path dir;
  bool userDataFallback = false;  // none of the others matched
  std::string reason;             // why this one, for the log
};
[[nodiscard]] AppDirChoice ChooseAppDir(const AppDirSources& sources);
// The sources of this process: environment, ProcessSettings(), /proc/self/exe, XDG.
[[nodiscard]] AppDirSources ProcessAppDirSources();

// Makes `appDir`/TXT when it is missing. Returns the user's message when it made
// the folder (what belongs there) or could not make it; nullopt when it existed.
[[nodiscard]] std::optional<std::string> PrepareUserDataDir(const std::filesystem::path& appDir);

void SetProcessSettings(Settings settings);
[[nodiscard]] const Settings& ProcessSettings();

// The COM<n>= devices of `settings` with the file and line naming each, for the
// serial link's port lookup (SetConfiguredComDevices).
[[nodiscard]] ConfiguredComDevices ComPortDevices(const Settings& settings);

}  // namespace orderlink
