#include "common/TextFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <random>

namespace orderlink {

std::vector<std::string> SplitLines(std::string_view content) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  std::size_t i = 0;
  while (i < content.size()) {
    const char c = content[i];
    if (c == '\r' || c == '\n') {
      lines.emplace_back(content.substr(start, i - start));
      i += (c == '\r' && i + 1 < content.size() && content[i + 1] == '\n') ? 2 : 1;
      start = i;
    } else {
      ++i;
    }
  }
  if (start < content.size()) lines.emplace_back(content.substr(start));
  return lines;
}

namespace {

// Closes the descriptor on every way out.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  [[nodiscard]] int Get() const { return fd_; }
  // Closes now and reports the result: a failed close can mean lost data.
  [[nodiscard]] bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

ReadFailure FailureOfOpen(const std::filesystem::path& path, int error) {
  if (error == ENOENT) {
    struct stat link {};
    // The name is there but leads nowhere.
    if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
      return {ReadProblem::DanglingLink, ENOENT};
    }
    return {ReadProblem::Missing, ENOENT};
  }
  return {ReadProblem::SystemError, error};
}

// Opens `path` for reading if it is a regular file; sets `*size` to its size.
ReadResult<int> OpenRegularFile(const std::filesystem::path& path, std::uintmax_t* size) {
  // Non-blocking so that a FIFO in a file's place cannot hold the thread until a
  // writer comes; only regular files are read.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return FailureOfOpen(path, errno);
  struct stat status {};
  ReadFailure failure;
  if (::fstat(fd, &status) != 0) {
    failure = {ReadProblem::SystemError, errno};
  } else if (S_ISDIR(status.st_mode)) {
    failure = {ReadProblem::NotRegularFile, EISDIR};
  } else if (!S_ISREG(status.st_mode)) {
    failure = {ReadProblem::NotRegularFile, 0};
  } else {
    *size = static_cast<std::uintmax_t>(status.st_size);
    return fd;
  }
  ::close(fd);
  return failure;
}

// Appends what `fd` holds to `bytes` until its end or until `bytes` holds `limit`
// bytes. Returns errno of a failed read, 0 otherwise.
int ReadUpTo(int fd, std::string& bytes, std::size_t limit) {
  char buffer[65536];
  while (bytes.size() < limit) {
    const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, limit - bytes.size()));
    if (n > 0) {
      bytes.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      return errno;
    }
  }
  return 0;
}

}  // namespace

ReadResult<FileHead> ReadFileHead(const std::filesystem::path& path, std::size_t maxBytes) {
  FileHead head;
  const auto opened = OpenRegularFile(path, &head.size);
  if (!opened) return opened.Failure();
  FileDescriptor fd(*opened);
  // One byte past the bound tells whether more follows, even when the file grew
  // after it was opened.
  const std::size_t limit = maxBytes < SIZE_MAX ? maxBytes + 1 : maxBytes;
  head.bytes.reserve(static_cast<std::size_t>(std::min<std::uintmax_t>(head.size, limit)));
  if (const int error = ReadUpTo(fd.Get(), head.bytes, limit); error != 0) {
    return ReadFailure{ReadProblem::SystemError, error};
  }
  if (head.bytes.size() > maxBytes) {
    head.bytes.resize(maxBytes);
    head.cut = true;
  }
  return head;
}

ReadResult<std::string> ReadFileBytes(const std::filesystem::path& path) {
  auto whole = ReadFileHead(path, SIZE_MAX);
  if (!whole) return whole.Failure();
  return std::move((*whole).bytes);
}

ReadResult<std::vector<std::string>> ReadLines(const std::filesystem::path& path) {
  auto bytes = ReadFileBytes(path);
  if (!bytes) return bytes.Failure();
  return SplitLines(*bytes);
}

ReadResult<std::string> ReadTxtBytes(const TxtDir& txt, std::string_view name) {
  const auto path = txt.Find(name);
  if (!path) return ReadFailure{ReadProblem::Missing, ENOENT, txt.Path()};
  return ReadFileBytes(*path);
}

ReadResult<std::vector<std::string>> ReadTxtLines(const TxtDir& txt, std::string_view name) {
  const auto path = txt.Find(name);
  if (!path) return ReadFailure{ReadProblem::Missing, ENOENT, txt.Path()};
  return ReadLines(*path);
}

ReadResult<FileHead> ReadTxtHead(const TxtDir& txt, std::string_view name, std::size_t maxBytes) {
  const auto path = txt.Find(name);
  if (!path) return ReadFailure{ReadProblem::Missing, ENOENT, txt.Path()};
  return ReadFileHead(*path, maxBytes);
}

std::string ReadFailureMessage(std::string_view fileName, const ReadFailure& failure,
                               std::string_view missingMessage) {
  std::string reason;
  switch (failure.problem) {
    case ReadProblem::Missing:
      if (failure.folder.empty()) return std::string(missingMessage);
      return std::string(missingMessage) + "（在" + failure.folder.string() + "中查找）";
    case ReadProblem::DanglingLink:
      reason = "它是一个链接，链接指向的文件不存在";
      break;
    case ReadProblem::NotRegularFile:
      reason = failure.systemError != 0 ? std::strerror(failure.systemError)
                                        : "它不是普通文件（管道或设备）";
      break;
    case ReadProblem::SystemError:
      reason = std::strerror(failure.systemError);
      break;
  }
  return std::string(fileName) + "无法读取：" + reason;
}

bool WriteFileBytes(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return !out.fail();
}

namespace {

std::string JoinCrLf(const std::vector<std::string>& lines) {
  std::string content;
  for (const auto& line : lines) {
    content += line;
    content += "\r\n";
  }
  return content;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// A new file of a unique name in `dir`: O_EXCL refuses any name that exists, a
// planted link included, and O_NOFOLLOW keeps the open from ever passing through one.
// Returns the descriptor (or -1) and sets `*temp` to its path.
constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::size_t kTemporaryLetters = 8;
constexpr std::string_view kTemporaryEnd = ".tmp";

// True for a name CreateUniqueTemporary makes: "<name>.<8 of kLetters>.tmp".
bool IsTemporaryName(std::string_view name) {
  constexpr std::size_t kTail = 1 + kTemporaryLetters + kTemporaryEnd.size();
  if (name.size() <= kTail || !name.ends_with(kTemporaryEnd)) return false;
  const std::string_view tail = name.substr(name.size() - kTail);
  if (tail.front() != '.') return false;
  const std::string_view letters = tail.substr(1, kTemporaryLetters);
  return letters.find_first_not_of(std::string_view(kLetters, sizeof kLetters - 1)) ==
         std::string_view::npos;
}

int CreateUniqueTemporary(const std::filesystem::path& target, std::filesystem::path* temp) {
  thread_local std::mt19937_64 random{std::random_device{}()};
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
  constexpr int kAttempts = 100;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    std::string suffix = ".";
    for (std::size_t i = 0; i < kTemporaryLetters; ++i) suffix += kLetters[pick(random)];
    suffix += kTemporaryEnd;
    std::filesystem::path candidate = target;
    candidate += suffix;
    const int fd = ::open(candidate.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd >= 0) {
      // Held until the descriptor closes (after the rename), or by the kernel's
      // cleanup when the process is killed.
      ::flock(fd, LOCK_EX | LOCK_NB);
      *temp = std::move(candidate);
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
}

}  // namespace

bool WriteLines(const std::filesystem::path& path, const std::vector<std::string>& lines) {
  return WriteFileBytes(path, JoinCrLf(lines));
}

bool WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                         int* systemError) {
  // errno of the first step that failed; the clean-up below must not overwrite it.
  int error = 0;
  std::filesystem::path temp;
  FileDescriptor fd(CreateUniqueTemporary(path, &temp));
  if (fd.Get() < 0) {
    error = errno;
  } else {
    // Flushed before the rename, so that after a power cut the name holds either the
    // old content or the whole new one.
    if (!WriteAll(fd.Get(), bytes) || ::fdatasync(fd.Get()) != 0) error = errno;
    if (!fd.Close() && error == 0) error = errno;
    if (error == 0 && ::rename(temp.c_str(), path.c_str()) == 0) return true;
    if (error == 0) error = errno;
    ::unlink(temp.c_str());
  }
  if (systemError != nullptr) *systemError = error;
  return false;
}

std::vector<std::filesystem::path> RemoveLeftoverTemporaries(const std::filesystem::path& dir) {
  std::vector<std::filesystem::path> removed;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::filesystem::path path = it->path();
    if (!IsTemporaryName(path.filename().string())) continue;
    FileDescriptor fd(
        ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK));
    struct stat status {};
    if (fd.Get() < 0 || ::fstat(fd.Get(), &status) != 0 || !S_ISREG(status.st_mode)) continue;
    // A write in progress (another instance, the ordering software's stand-in) holds it.
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) continue;
    if (::unlink(path.c_str()) == 0) removed.push_back(path);
  }
  return removed;
}

}  // namespace orderlink
