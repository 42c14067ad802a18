// Start of the process: the command line first (--help and --version need no
// display), then diagnostics (stamped lines, the log file, Qt's own lines), Qt's
// Chinese texts, the settings file and the data folder, then the application.

#include <QApplication>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/ApplicationQt.h"
#include "app/CommandLine.h"
#include "app/MessageBoxQt.h"
#include "app/QtLogHandlerQt.h"
#include "app/QtTranslationsQt.h"
#include "app/RotatingLogFile.h"
#include "app/Settings.h"
#include "app/SettingsFileQt.h"
#include "common/Log.h"

namespace {

using namespace orderlink;

// Lines go to the log file from here on, until the guard ends (before the file
// closes).
struct LogFileAttachment {
  explicit LogFileAttachment(RotatingLogFile& file) {
    std::string error;
    if (file.Open(&error)) {
      SetLogFileSink([&file](std::string_view line) { file.Append(line); });
    } else {
      LogWarning("no log file: " + error);
    }
  }
  ~LogFileAttachment() { SetLogFileSink({}); }
  LogFileAttachment(const LogFileAttachment&) = delete;
  LogFileAttachment& operator=(const LogFileAttachment&) = delete;
};

// Settings file and data folder; false when start-up must stop (the user was told).
bool ApplySettings(const CommandLine& commandLine, MessageSink& messages) {
  const std::filesystem::path file = SettingsFilePath();
  SettingsFileResult loaded = LoadSettingsFile(file);
  if (!loaded.error.empty()) {
    messages.ShowMessage(loaded.error);
    return false;
  }
  // The composition root reads the trace file from ProcessSettings(): --trace
  // wins over Trace= of the settings file.
  if (commandLine.traceFile) {
    std::error_code ec;
    loaded.settings.traceFile = std::filesystem::absolute(*commandLine.traceFile, ec);
  }
  SetProcessSettings(std::move(loaded.settings));

  const AppDirChoice appDir = ChooseAppDir(ProcessAppDirSources());
  if (appDir.userDataFallback) {
    if (const auto notice = PrepareUserDataDir(appDir.dir)) messages.ShowMessage(*notice);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const CommandLine commandLine = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  switch (commandLine.action) {
    case CommandLine::Action::Help:
      std::fputs(HelpText().c_str(), stdout);
      return 0;
    case CommandLine::Action::Version:
      std::fputs(VersionText().c_str(), stdout);
      return 0;
    case CommandLine::Action::Refuse:
      LogError(commandLine.error);
      return kUsageExitStatus;
    case CommandLine::Action::Run:
      break;
  }

  RotatingLogFile logFile(LogDir() / "orderlink.log");
  const LogFileAttachment logAttachment(logFile);
  InstallQtLogHandler();

  QApplication app(argc, argv);
  // Closing the login form or hiding the window to the tray must not end the program.
  QApplication::setQuitOnLastWindowClosed(false);
  if (!LoadChineseQtTranslations(app)) {
    LogWarning(
        "Qt's Chinese translations are missing (Debian package qt6-translations-l10n): "
        "Qt's own buttons and dialogs stay in English");
  }
  {
    MessageBoxQt startupMessages;
    if (!ApplySettings(commandLine, startupMessages)) return 1;
  }
  Application application;
  return application.Run(commandLine.parameters);
}
