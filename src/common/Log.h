#pragma once
// Diagnostic output of the program. Every line goes to stderr as
//   <ISO 8601 local time with milliseconds> <level> <text>
// and, when a log file sink is installed, to that file too. When JOURNAL_STREAM is
// set (a systemd service) the stderr line is "<N><level> <text>" instead: the
// journal's priority (error 3, warning 4, info 6, debug 7) and no time stamp, which
// the journal adds. Any thread; a line is written whole (never interleaved with
// another thread's line).
//
// Levels: error for what stops the start, warning for a refused input or a lost
// line, info for the events of the service, debug for the verbose detail.
//
// Messages the user must see go through MessageSink, which logs them as
// "message: <text>" (at level info, a start-up failure at error); tools read that
// form, so nothing may follow it.

#include <functional>
#include <string>
#include <string_view>

namespace orderlink {

enum class LogLevel { Debug, Info, Warning, Error };

[[nodiscard]] std::string_view LogLevelName(LogLevel level);

// Writes one line (the text must not hold a line break; one is cut off there).
void Log(LogLevel level, std::string_view text);

inline void LogInfo(std::string_view text) { Log(LogLevel::Info, text); }
inline void LogWarning(std::string_view text) { Log(LogLevel::Warning, text); }
inline void LogError(std::string_view text) { Log(LogLevel::Error, text); }

// Detail lines (one per request and reply) written only when verbose logging is on
// (--verbose, Verbose= in the settings file). Off by default; any thread.
void SetVerboseLog(bool on);
[[nodiscard]] bool VerboseLog();
inline void LogVerbose(std::string_view text) {
  if (VerboseLog()) Log(LogLevel::Debug, text);
}

// A second destination for every stamped line (without its line break), e.g. a
// rotating log file. Called under the log's lock: it must not log itself.
// An empty function removes it.
void SetLogFileSink(std::function<void(std::string_view stampedLine)> sink);

}  // namespace orderlink
