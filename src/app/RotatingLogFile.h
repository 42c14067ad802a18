#pragma once
// The log file: every stamped diagnostic line appended to `path`; when the next
// line would take the file past `maxBytes`, it becomes `path`.1 (replacing the older
// one) and a new file is begun. So at most two files of `maxBytes` each are kept.
//
// Not thread-safe by itself: it is the sink of Log, which calls it under its lock.
// It never logs (a failure to write is dropped: the lines still reach stderr).

#include <cstddef>
#include <filesystem>
#include <string_view>

namespace orderlink {

class RotatingLogFile {
 public:
  static constexpr std::size_t kDefaultMaxBytes = 1024 * 1024;

  explicit RotatingLogFile(std::filesystem::path path, std::size_t maxBytes = kDefaultMaxBytes);
  ~RotatingLogFile();
  RotatingLogFile(const RotatingLogFile&) = delete;
  RotatingLogFile& operator=(const RotatingLogFile&) = delete;

  // Makes the folder and opens the file for appending. False with a reason in
  // `error` when it cannot.
  [[nodiscard]] bool Open(std::string* error);
  // Appends `line` and a line break (rotating first when the file would grow too big).
  void Append(std::string_view line);

  [[nodiscard]] const std::filesystem::path& Path() const { return path_; }
  [[nodiscard]] std::filesystem::path PreviousPath() const;

 private:
  void Rotate();

  std::filesystem::path path_;
  std::size_t maxBytes_;
  int fd_ = -1;
  std::size_t size_ = 0;
};

}  // namespace orderlink
