#include "app/Settings.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>

#include "common/TextFile.h"
#include "common/WholeNumber.h"

namespace orderlink {

namespace {

constexpr int kHighestComPort = 9;  // 基站.txt names the port with one digit

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

// The port number of a "COM<n>" key: n, 0 for "COM" followed by something that is
// not a number, nullopt for any other key.
std::optional<long> ComKeyNumber(std::string_view key) {
  if (key.rfind("COM", 0) != 0) return std::nullopt;
  const std::string_view digits = key.substr(3);
  if (digits.size() > 6 || !AllDigits(digits)) {
    return 0;
  }
  return *ParseWholeNumber(digits);
}

// The reason `key` is refused as a name, or empty.
std::string CheckKey(std::string_view key) {
  if (key == "AppDir" || key == "Trace" || key == "TraceMax" || key == "Verbose") return {};
  const auto number = ComKeyNumber(key);
  if (!number) {
    return "未知的设置项“" + std::string(key) +
           "”（可用的有AppDir、Trace、TraceMax、Verbose、COM1～COM9）";
  }
  if (*number < 1 || *number > kHighestComPort) {
    return "串口编号“" + std::string(key) + "”超出范围COM1～COM9";
  }
  return {};
}

// The value of a NAME=VALUE line from what follows the '=': the quoted text as
// written, or the text before a comment without the blanks around it. nullopt and
// `reason` for a quote that is not closed or is followed by more than a comment.
std::optional<std::string> ValueOf(std::string_view rest, std::string& reason) {
  rest = Trim(rest);
  if (!rest.empty() && rest.front() == '"') {
    const auto close = rest.rfind('"');
    if (close == 0) {
      reason = "的引号没有结束";
      return std::nullopt;
    }
    const std::string_view after = Trim(rest.substr(close + 1));
    if (!after.empty() && after.front() != '#') {
      reason = "在结束的引号之后只能有注释（#…）";
      return std::nullopt;
    }
    return std::string(rest.substr(1, close - 1));
  }
  if (!rest.empty() && rest.front() == '#') return std::string();  // "NAME= # nothing"
  for (std::size_t i = 1; i < rest.size(); ++i) {
    if (rest[i] == '#' && (rest[i - 1] == ' ' || rest[i - 1] == '\t')) {
      return std::string(Trim(rest.substr(0, i)));
    }
  }
  return std::string(rest);
}

// TraceMax: bytes with an optional K, M or G (binary multiples); 0 means no limit.
std::optional<std::uint64_t> ParseByteSize(std::string_view text) {
  std::uint64_t unit = 1;
  if (!text.empty()) {
    switch (text.back()) {
      case 'K':
      case 'k':
        unit = 1ull << 10;
        break;
      case 'M':
      case 'm':
        unit = 1ull << 20;
        break;
      case 'G':
      case 'g':
        unit = 1ull << 30;
        break;
      default:
        break;
    }
    if (unit != 1) text.remove_suffix(1);
  }
  if (text.size() > 9 || !AllDigits(text)) return std::nullopt;
  return static_cast<std::uint64_t>(*ParseWholeNumber(text)) * unit;
}

std::optional<bool> ParseSwitch(std::string_view text) {
  for (const char* yes : {"yes", "true", "on", "1"}) {
    if (text == yes) return true;
  }
  for (const char* no : {"no", "false", "off", "0"}) {
    if (text == no) return false;
  }
  return std::nullopt;
}

// Stores `value` under `key` (accepted by CheckKey); the reason when the value is refused.
std::string Apply(std::string_view key, const std::string& value, Settings& settings) {
  const std::string name(key);
  if (value.empty()) return "“" + name + "”没有值";
  if (key == "TraceMax") {
    const auto bytes = ParseByteSize(value);
    if (!bytes) return "“TraceMax”应为字节数（可加K、M或G），而不是“" + value + "”";
    settings.traceMaxBytes = *bytes;
    return {};
  }
  if (key == "Verbose") {
    const auto on = ParseSwitch(value);
    if (!on) return "“Verbose”应为yes或no，而不是“" + value + "”";
    settings.verbose = *on;
    return {};
  }
  if (value.front() != '/') return "“" + name + "”须为绝对路径（以/开头），而不是“" + value + "”";
  if (key == "AppDir") {
    settings.appDir = value;
  } else if (key == "Trace") {
    settings.traceFile = value;
  } else {
    settings.comDevices[static_cast<int>(*ComKeyNumber(key))] = value;
  }
  return {};
}

Settings& MutableProcessSettings() {
  static Settings settings;
  return settings;
}

}  // namespace

SettingsText ParseSettingsText(std::string_view text) {
  SettingsText parsed;
  Settings& settings = parsed.settings;
  const auto refuse = [&parsed](int line, std::string reason) {
    parsed.fault = SettingsFault{line, std::move(reason)};
    return std::move(parsed);
  };
  // Editors on other systems may start the file with a UTF-8 byte order mark.
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.remove_prefix(3);
  int number = 0;
  while (!text.empty()) {
    ++number;
    const auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    line = Trim(line);
    if (line.empty() || line.front() == '#' || line.front() == ';') continue;
    if (line.front() == '[') {
      if (line == "[General]") continue;
      return refuse(number, "未知的节“" + std::string(line) + "”（只有[General]）");
    }
    const auto equals = line.find('=');
    const std::string_view key =
        equals == std::string_view::npos ? std::string_view{} : Trim(line.substr(0, equals));
    if (key.empty()) {
      return refuse(number, "格式错误：“" + std::string(line) + "”，应为 名称=值");
    }
    if (std::string reason = CheckKey(key); !reason.empty()) return refuse(number, reason);
    std::string reason;
    const auto value = ValueOf(line.substr(equals + 1), reason);
    if (!value) return refuse(number, "“" + std::string(key) + "”" + reason);
    if (reason = Apply(key, *value, settings); !reason.empty()) return refuse(number, reason);
    if (const auto first = settings.lineOf.find(key); first != settings.lineOf.end()) {
      return refuse(number, "“" + std::string(key) + "”重复设置（第" +
                                std::to_string(first->second) + "行已设置）");
    }
    settings.lineOf.emplace(std::string(key), number);
  }
  return parsed;
}

std::string SettingsFaultMessage(const std::filesystem::path& file, const SettingsFault& fault) {
  return "设置文件" + file.string() + "第" + std::to_string(fault.line) + "行：" + fault.reason +
         "。请改正或删除这一行，然后重新启动程序。";
}

SettingsFileResult LoadSettingsFile(const std::filesystem::path& file) {
  SettingsFileResult result;
  const auto bytes = ReadFileBytes(file);
  if (!bytes) {
    if (bytes.Failure().problem == ReadProblem::Missing) return result;
    result.error = ReadFailureMessage("设置文件" + file.string(), bytes.Failure(), "") +
                   "。请检查它，然后重新启动程序。";
    return result;
  }
  SettingsText parsed = ParseSettingsText(*bytes);
  if (parsed.fault) {
    result.error = SettingsFaultMessage(file, *parsed.fault);
    return result;
  }
  result.settings = std::move(parsed.settings);
  result.settings.file = file;
  return result;
}

std::filesystem::path XdgBaseDir(const char* variable, std::string_view fallbackUnderHome) {
  if (const char* value = std::getenv(variable); value != nullptr && value[0] == '/') return value;
  std::filesystem::path home;
  if (const char* value = std::getenv("HOME"); value != nullptr && value[0] == '/') {
    home = value;
  } else if (const passwd* user = ::getpwuid(::getuid());
             user != nullptr && user->pw_dir != nullptr) {
    home = user->pw_dir;
  } else {
    home = "/tmp";
  }
  return home / fallbackUnderHome;
}

std::filesystem::path SettingsFilePath() {
  return XdgBaseDir("XDG_CONFIG_HOME", ".config") / "orderlink" / "orderlink.conf";
}

std::filesystem::path LogDir() {
  return XdgBaseDir("XDG_STATE_HOME", ".local/state") / "orderlink";
}

AppDirChoice ChooseAppDir(const AppDirSources& sources) {
  if (!sources.environment.empty()) return {sources.environment, false, "ORDERLINK_APPDIR is set"};
  if (sources.settings) return {*sources.settings, false, "AppDir= in " + sources.settingsLine};
  // Where the ordering software keeps the program beside its TXT folder.
  std::error_code ec;
  if (!sources.executableDir.empty() &&
      std::filesystem::is_directory(sources.executableDir / "TXT", ec)) {
    return {sources.executableDir, false, "the program's own folder holds TXT"};
  }
  return {sources.userDataDir, true,
          "no ORDERLINK_APPDIR, no AppDir= and no TXT beside the program: the user's data folder"};
}

AppDirSources ProcessAppDirSources() {
  AppDirSources sources;
  if (const char* dir = std::getenv("ORDERLINK_APPDIR")) sources.environment = dir;
  const Settings& settings = ProcessSettings();
  sources.settings = settings.appDir;
  if (const auto line = settings.lineOf.find("AppDir"); line != settings.lineOf.end()) {
    sources.settingsLine = settings.file.string() + " line " + std::to_string(line->second);
  }
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) sources.executableDir = exe.parent_path();
  sources.userDataDir = XdgBaseDir("XDG_DATA_HOME", ".local/share") / "orderlink";
  return sources;
}

std::optional<std::string> PrepareUserDataDir(const std::filesystem::path& appDir) {
  const std::filesystem::path txt = appDir / "TXT";
  std::error_code ec;
  if (std::filesystem::is_directory(txt, ec)) return std::nullopt;
  if (!std::filesystem::create_directories(txt, ec) && ec) {
    return "无法建立数据文件夹" + txt.string() + "：" + ec.message() +
           "。请用ORDERLINK_APPDIR或设置文件" + SettingsFilePath().string() +
           "中的AppDir指定数据文件夹。";
  }
  return "已建立数据文件夹" + txt.string() +
         "。请把基站.txt、点菜机.txt和菜单数据文件放进去，或用设置文件" +
         SettingsFilePath().string() + "中的AppDir指定已有的数据文件夹，然后重新启动程序。";
}

void SetProcessSettings(Settings settings) { MutableProcessSettings() = std::move(settings); }

const Settings& ProcessSettings() { return MutableProcessSettings(); }

ConfiguredComDevices ComPortDevices(const Settings& settings) {
  ConfiguredComDevices devices;
  for (const auto& [n, device] : settings.comDevices) {
    const auto line = settings.lineOf.find("COM" + std::to_string(n));
    devices[n] = ConfiguredDevice{device, settings.file.string(),
                                  line != settings.lineOf.end() ? line->second : 0};
  }
  return devices;
}

}  // namespace orderlink
