#include "common/Log.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

namespace orderlink {

namespace {

std::mutex& LogMutex() {
  static std::mutex mutex;
  return mutex;
}

std::atomic<bool> verbose{false};

std::function<void(std::string_view)>& FileSink() {
  static std::function<void(std::string_view)> sink;
  return sink;
}

std::string TimeStamp() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  ::localtime_r(&seconds, &local);
  char date[32];
  std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
  char zone[8];
  std::strftime(zone, sizeof zone, "%z", &local);  // +hhmm; ISO 8601 writes +hh:mm
  const std::string z(zone);
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%s.%03d%s:%s", date, static_cast<int>(millis),
                z.substr(0, 3).c_str(), z.size() >= 5 ? z.substr(3, 2).c_str() : "00");
  return stamp;
}

// Under systemd (JOURNAL_STREAM set) stderr goes to the journal, which stamps each
// line itself and reads its priority from a "<N>" prefix (syslog levels).
bool ToJournal() {
  static const bool journal = [] {
    const char* stream = std::getenv("JOURNAL_STREAM");
    return stream != nullptr && stream[0] != '\0';
  }();
  return journal;
}

int SyslogPriority(LogLevel level) {
  switch (level) {
    case LogLevel::Debug:
      return 7;
    case LogLevel::Info:
      return 6;
    case LogLevel::Warning:
      return 4;
    case LogLevel::Error:
      return 3;
  }
  return 6;
}

}  // namespace

std::string_view LogLevelName(LogLevel level) {
  switch (level) {
    case LogLevel::Debug:
      return "debug";
    case LogLevel::Info:
      return "info";
    case LogLevel::Warning:
      return "warning";
    case LogLevel::Error:
      return "error";
  }
  return "info";
}

void Log(LogLevel level, std::string_view text) {
  if (const auto end = text.find_first_of("\r\n"); end != std::string_view::npos) {
    text = text.substr(0, end);
  }
  std::string body(LogLevelName(level));
  body += ' ';
  body += text;
  // One stamp for both copies of the line: the log file and stderr agree.
  const std::string stamped = TimeStamp() + ' ' + body;
  std::string line;
  std::lock_guard lock(LogMutex());
  if (const auto& sink = FileSink()) sink(stamped);
  if (ToJournal()) {
    line = '<' + std::to_string(SyslogPriority(level)) + '>' + body;
  } else {
    line = stamped;
  }
  line += '\n';
  // One write per line, so lines of different threads never mix.
  std::size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = ::write(STDERR_FILENO, line.data() + done, line.size() - done);
    if (n <= 0) break;  // stderr gone: nothing more to do
    done += static_cast<std::size_t>(n);
  }
}

void SetVerboseLog(bool on) { verbose.store(on, std::memory_order_relaxed); }

bool VerboseLog() { return verbose.load(std::memory_order_relaxed); }

void SetLogFileSink(std::function<void(std::string_view)> sink) {
  std::lock_guard lock(LogMutex());
  FileSink() = std::move(sink);
}

}  // namespace orderlink
