#include "ui_support/QtLogHandler.h"

#include <QLoggingCategory>
#include <QString>
#include <array>
#include <cstring>

#include "common/Log.h"

namespace orderlink {

namespace {

LogLevel LevelOf(QtMsgType type) {
  switch (type) {
    case QtDebugMsg:
      return LogLevel::Debug;
    case QtInfoMsg:
      return LogLevel::Info;
    case QtWarningMsg:
      return LogLevel::Warning;
    case QtCriticalMsg:
    case QtFatalMsg:
      return LogLevel::Error;
  }
  return LogLevel::Warning;
}

void HandleQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  const std::string text = message.toStdString();
  if (IsQtNoise(text)) return;
  const char* category = context.category;
  if (category == nullptr || std::strcmp(category, "default") == 0) {
    Log(LevelOf(type), text);
  } else {
    Log(LevelOf(type), std::string(category) + ": " + text);
  }
}

}  // namespace

bool IsQtNoise(std::string_view text) {
  // Window managers and the offscreen/minimal platforms lack these; Qt says so on
  // every window shown, and nothing is wrong.
  static constexpr std::array kNoise = {
      std::string_view("This plugin does not support "),  // raise(), propagateSizeHints()
  };
  for (const std::string_view noise : kNoise) {
    if (text.rfind(noise, 0) == 0) return true;
  }
  return false;
}

void InstallQtLogHandler() {
  // Debug lines of Qt's categories stay off; the platform plugin's font and
  // input-method chatter too.
  QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\nqt.qpa.fonts.warning=false\n"));
  qInstallMessageHandler(HandleQtMessage);
}

}  // namespace orderlink
