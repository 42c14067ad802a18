#pragma once
// Text files of the TXT directory: GBK bytes, lines ending in CR LF, CR or LF.
// Plain functions of the calling thread; nothing is shared between calls.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/TxtDir.h"

namespace orderlink {

// Splits at CR LF, CR or LF. A final line break adds no empty line; "" gives no lines.
[[nodiscard]] std::vector<std::string> SplitLines(std::string_view content);

// Why a file could not be read. "Missing" is the only case in which nothing is
// there; every other case names something the user has to repair.
enum class ReadProblem {
  Missing,         // no entry of that name
  DanglingLink,    // a symbolic link whose target is not there
  NotRegularFile,  // a directory (systemError EISDIR), a FIFO, a device, a socket
  SystemError,     // opening or reading failed: systemError says why (EACCES, EIO, ELOOP ...)
};
struct ReadFailure {
  ReadFailure() = default;
  ReadFailure(ReadProblem problemOfRead, int error, std::filesystem::path lookedIn = {})
      : problem(problemOfRead), systemError(error), folder(std::move(lookedIn)) {}

  ReadProblem problem = ReadProblem::Missing;
  int systemError = 0;           // errno, 0 when the problem has none
  std::filesystem::path folder;  // where the file was looked for (TXT reads), else empty
};

// What a read produced: the content, or why there is none. Reads like std::optional
// (a result without content converts to nullopt), and keeps the reason.
template <typename T>
class [[nodiscard]] ReadResult {
 public:
  ReadResult(T value) : value_(std::move(value)) {}  // implicit, as optional
  ReadResult(ReadFailure failure) : failure_(failure) {}
  ReadResult(std::nullopt_t) {}  // nothing there

  [[nodiscard]] bool has_value() const { return value_.has_value(); }
  explicit operator bool() const { return has_value(); }
  [[nodiscard]] const T& operator*() const& { return *value_; }
  [[nodiscard]] T& operator*() & { return *value_; }
  [[nodiscard]] T&& operator*() && { return *std::move(value_); }
  [[nodiscard]] const T* operator->() const { return &*value_; }
  [[nodiscard]] T value_or(T fallback) const { return value_.value_or(std::move(fallback)); }
  operator std::optional<T>() const& { return value_; }  // for callers that keep an optional
  operator std::optional<T>() && { return std::move(value_); }
  // Meaningful only without content.
  [[nodiscard]] const ReadFailure& Failure() const { return failure_; }

  friend bool operator==(const ReadResult& read, const T& value) { return read.value_ == value; }
  friend bool operator==(const ReadResult& read, std::nullopt_t) { return !read.has_value(); }

 private:
  std::optional<T> value_;
  ReadFailure failure_;
};

// Whole file as bytes. A FIFO or device is refused without waiting for a writer.
[[nodiscard]] ReadResult<std::string> ReadFileBytes(const std::filesystem::path& path);
// Lines of the file.
[[nodiscard]] ReadResult<std::vector<std::string>> ReadLines(const std::filesystem::path& path);

// The start of a file that may be far larger than its reader will take: at most
// `maxBytes` of it are read, whatever its size.
struct FileHead {
  std::string bytes;        // the first bytes, at most maxBytes
  bool cut = false;         // more bytes follow the ones read
  std::uintmax_t size = 0;  // the file's size when it was opened, in bytes
};
[[nodiscard]] ReadResult<FileHead> ReadFileHead(const std::filesystem::path& path,
                                                std::size_t maxBytes);

// The data file `name` of TXT, found as TxtDir::Find finds it.
[[nodiscard]] ReadResult<std::string> ReadTxtBytes(const TxtDir& txt, std::string_view name);
[[nodiscard]] ReadResult<std::vector<std::string>> ReadTxtLines(const TxtDir& txt,
                                                                std::string_view name);
[[nodiscard]] ReadResult<FileHead> ReadTxtHead(const TxtDir& txt, std::string_view name,
                                               std::size_t maxBytes);

// The one text (UTF-8) that tells the user why `fileName` could not be read:
// `missingMessage` when it is not there, followed by "（在<folder>中查找）" when the
// failure knows its folder; else "<name>无法读取：<reason>" with the system's own
// words for the reason.
[[nodiscard]] std::string ReadFailureMessage(std::string_view fileName, const ReadFailure& failure,
                                             std::string_view missingMessage);

// Writes every line followed by CR LF, replacing the file in place. False on any failure.
[[nodiscard]] bool WriteLines(const std::filesystem::path& path,
                              const std::vector<std::string>& lines);
// Replaces the file with `bytes` in place. False on any failure.
[[nodiscard]] bool WriteFileBytes(const std::filesystem::path& path, std::string_view bytes);
// Writes `bytes` to a new temporary file of a unique name beside `path` (created
// exclusively, never through a link), flushes it to disk and renames it over `path`.
// A reader sees the old file or the new one, never a part; on any failure the
// temporary file is removed, the old file stays and the result is false, with the
// errno of the step that failed in `*systemError` when it is given.
// The temporary file is locked (flock) while it is written, so that
// RemoveLeftoverTemporaries can tell a live write from one that was killed.
[[nodiscard]] bool WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                                       int* systemError = nullptr);

// Removes from `dir` what WriteFileAtomically leaves behind when the process is
// killed during a replace: regular files named "<name>.<8 letters a-z 0-9>.tmp" that
// no live write holds locked. Nothing else is touched. Returns the removed paths.
[[nodiscard]] std::vector<std::filesystem::path> RemoveLeftoverTemporaries(
    const std::filesystem::path& dir);

}  // namespace orderlink
