#include "app/RotatingLogFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>

namespace orderlink {

namespace {

int OpenForAppend(const std::filesystem::path& path) {
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

}  // namespace

RotatingLogFile::RotatingLogFile(std::filesystem::path path, std::size_t maxBytes)
    : path_(std::move(path)), maxBytes_(maxBytes) {}

RotatingLogFile::~RotatingLogFile() {
  if (fd_ >= 0) ::close(fd_);
}

std::filesystem::path RotatingLogFile::PreviousPath() const {
  std::filesystem::path previous = path_;
  previous += ".1";
  return previous;
}

bool RotatingLogFile::Open(std::string* error) {
  std::error_code ec;
  std::filesystem::create_directories(path_.parent_path(), ec);
  if (ec) {
    *error = path_.parent_path().string() + ": " + ec.message();
    return false;
  }
  fd_ = OpenForAppend(path_);
  if (fd_ < 0) {
    *error = path_.string() + ": " + std::strerror(errno);
    return false;
  }
  struct stat info {};
  size_ = ::fstat(fd_, &info) == 0 ? static_cast<std::size_t>(info.st_size) : 0;
  return true;
}

void RotatingLogFile::Rotate() {
  ::close(fd_);
  std::error_code ec;
  std::filesystem::rename(path_, PreviousPath(), ec);
  fd_ = OpenForAppend(path_);
  size_ = 0;
  // The rename failed (e.g. the folder is read-only now): start the file over
  // rather than let it grow without limit.
  if (ec && fd_ >= 0 && ::ftruncate(fd_, 0) != 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

void RotatingLogFile::Append(std::string_view line) {
  if (fd_ < 0) return;
  std::string record(line);
  record += '\n';
  // A line is never split across the two files; a file that holds something is
  // rotated before it would pass the cap.
  if (size_ > 0 && size_ + record.size() > maxBytes_) Rotate();
  if (fd_ < 0) return;
  const ssize_t written = ::write(fd_, record.data(), record.size());
  if (written > 0) size_ += static_cast<std::size_t>(written);
}

}  // namespace orderlink
