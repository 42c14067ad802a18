#include "app/Settings.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>

#include "app/PortPaths.h"
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

// The reason a NAME=VALUE line is refused, or empty.
std::string CheckEntry(std::string_view key, std::string_view value) {
  if (key != "AppDir" && key != "Trace") {
    const auto number = ComKeyNumber(key);
    if (!number) {
      return "未知的设置项“" + std::string(key) + "”（可用的有AppDir、Trace、COM1～COM9）";
    }
    if (*number < 1 || *number > kHighestComPort) {
      return "串口编号“" + std::string(key) + "”超出范围COM1～COM9";
    }
  }
  if (value.empty()) return "“" + std::string(key) + "”没有值";
  // QSettings would read these differently from what is written: quotes and
  // backslashes are escapes, a semicolon starts a comment, a comma makes a list.
  if (value.find_first_of("\"\\;,") != std::string_view::npos) {
    return "“" + std::string(key) + "”的值中不能有引号、反斜杠、分号或逗号";
  }
  if (value.front() != '/') {
    return "“" + std::string(key) + "”须为绝对路径（以/开头），而不是“" + std::string(value) + "”";
  }
  return {};
}

Settings& MutableProcessSettings() {
  static Settings settings;
  return settings;
}

}  // namespace

std::optional<SettingsFault> CheckSettingsText(std::string_view text) {
  std::map<std::string, int, std::less<>> seen;  // key -> line of its first setting
  // Editors on other systems may start the file with a UTF-8 byte order mark.
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.remove_prefix(3);
  int number = 0;
  while (!text.empty() || number == 0) {
    ++number;
    const auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    line = Trim(line);
    if (line.empty() || line.front() == '#' || line.front() == ';') continue;
    if (line.front() == '[') {
      if (line == "[General]") continue;
      return SettingsFault{number, "未知的节“" + std::string(line) + "”（只有[General]）"};
    }
    const auto equals = line.find('=');
    const std::string_view key =
        equals == std::string_view::npos ? std::string_view{} : Trim(line.substr(0, equals));
    if (key.empty()) {
      return SettingsFault{number, "格式错误：“" + std::string(line) + "”，应为 名称=值"};
    }
    if (std::string reason = CheckEntry(key, Trim(line.substr(equals + 1))); !reason.empty()) {
      return SettingsFault{number, std::move(reason)};
    }
    if (const auto [first, inserted] = seen.emplace(std::string(key), number); !inserted) {
      return SettingsFault{number, "“" + std::string(key) + "”重复设置（第" +
                                       std::to_string(first->second) + "行已设置）"};
    }
  }
  return std::nullopt;
}

std::string SettingsFaultMessage(const std::filesystem::path& file, const SettingsFault& fault) {
  return "设置文件" + file.string() + "第" + std::to_string(fault.line) + "行：" + fault.reason +
         "。请改正或删除这一行，然后重新启动程序。";
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
  if (!sources.environment.empty()) return {sources.environment, false};
  if (sources.settings) return {*sources.settings, false};
  // Where the ordering software keeps the program beside its TXT folder.
  std::error_code ec;
  if (!sources.executableDir.empty() &&
      std::filesystem::is_directory(sources.executableDir / "TXT", ec)) {
    return {sources.executableDir, false};
  }
  return {sources.userDataDir, true};
}

AppDirSources ProcessAppDirSources() {
  AppDirSources sources;
  if (const char* dir = std::getenv("ORDERLINK_APPDIR")) sources.environment = dir;
  sources.settings = ProcessSettings().appDir;
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

std::optional<std::string> ConfiguredComDevice(int n) {
  const auto& devices = ProcessSettings().comDevices;
  if (const auto it = devices.find(n); it != devices.end()) return it->second;
  return std::nullopt;
}

}  // namespace orderlink
