#include "app/SettingsFileQt.h"

#include <QSettings>
#include <fstream>
#include <sstream>

namespace orderlink {

namespace {

std::optional<std::filesystem::path> PathValue(const QSettings& ini, const QString& key) {
  const QString value = ini.value(key).toString();
  if (value.isEmpty()) return std::nullopt;
  return std::filesystem::path(value.toStdString());
}

}  // namespace

SettingsFileResult LoadSettingsFile(const std::filesystem::path& file) {
  SettingsFileResult result;
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) return result;
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  if (in) text << in.rdbuf();
  if (!in) {
    result.error = "设置文件" + file.string() + "无法读取。请检查它的权限，然后重新启动程序。";
    return result;
  }
  if (const auto fault = CheckSettingsText(text.str())) {
    result.error = SettingsFaultMessage(file, *fault);
    return result;
  }

  const QSettings ini(QString::fromStdString(file.string()), QSettings::IniFormat);
  result.settings.appDir = PathValue(ini, QStringLiteral("AppDir"));
  result.settings.traceFile = PathValue(ini, QStringLiteral("Trace"));
  for (const QString& key : ini.childKeys()) {
    if (!key.startsWith(QStringLiteral("COM"))) continue;
    // The check above admitted only COM1..COM9.
    result.settings.comDevices[key.mid(3).toInt()] = ini.value(key).toString().toStdString();
  }
  return result;
}

}  // namespace orderlink
