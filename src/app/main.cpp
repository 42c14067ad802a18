// Start of the process: the command line first (--help and --version need no
// display), then diagnostics (stamped lines, the log file, Qt's own lines), the
// display, Qt's Chinese texts, the settings file and the data folder, then the
// application. Each step of the set-up is logged, so that the log explains it.

#include <unistd.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/Application.h"
#include "app/CommandLine.h"
#include "app/RotatingLogFile.h"
#include "app/Settings.h"
#include "common/Log.h"
#include "common/TextFile.h"
#include "ui_support/MessageBoxQt.h"
#include "ui_support/QtLogHandler.h"
#include "ui_support/QtTranslations.h"

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

bool IsSet(const char* variable) {
  const char* value = std::getenv(variable);
  return value != nullptr && value[0] != '\0';
}

// Qt aborts the process when no platform can start; without a display say so
// and how to run without one instead.
bool DisplayFound() {
  return IsSet("QT_QPA_PLATFORM") || IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY");
}

// Settings file and data folder; false when start-up must stop (the user was told).
bool ApplySettings(const CommandLine& commandLine, MessageSink& messages) {
  const std::filesystem::path file = SettingsFilePath();
  SettingsFileResult loaded = LoadSettingsFile(file);
  if (!loaded.error.empty()) {
    messages.ShowStartFailure(loaded.error);
    return false;
  }
  LogInfo(loaded.settings.file.empty()
              ? "settings file: none (" + file.string() + " does not exist)"
              : "settings file: " + file.string());
  if (commandLine.verbose || loaded.settings.verbose) {
    SetVerboseLog(true);
    LogInfo(std::string("verbose log on (") +
            (commandLine.verbose ? "--verbose" : "Verbose= in the settings file") + ")");
  }
  // The composition root reads the trace file from ProcessSettings(): --trace
  // wins over Trace= of the settings file.
  if (commandLine.traceFile) {
    std::error_code ec;
    loaded.settings.traceFile = std::filesystem::absolute(*commandLine.traceFile, ec);
  }
  SetProcessSettings(std::move(loaded.settings));
  SetConfiguredComDevices(ComPortDevices(ProcessSettings()));

  const AppDirChoice appDir = ChooseAppDir(ProcessAppDirSources());
  LogInfo("data folder: " + (appDir.dir / "TXT").string() + " (" + appDir.reason + ")");
  if (appDir.userDataFallback) {
    if (const auto notice = PrepareUserDataDir(appDir.dir)) messages.ShowMessage(*notice);
  }
  for (const auto& leftover : RemoveLeftoverTemporaries(appDir.dir / "TXT")) {
    LogWarning("removed " + leftover.string() +
               ", the temporary file of a replace that was cut off (the program was killed)");
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
  std::string version = VersionText();
  if (!version.empty() && version.back() == '\n') version.pop_back();
  LogInfo(version + " starting (process " + std::to_string(::getpid()) + ")");
  if (!DisplayFound()) {
    LogError(
        "no display found (DISPLAY and WAYLAND_DISPLAY are not set): run it on the desktop, or "
        "without a display as QT_QPA_PLATFORM=offscreen orderlink ...");
    return 1;
  }
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
