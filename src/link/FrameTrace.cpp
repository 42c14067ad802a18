#include "link/FrameTrace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "common/Log.h"

namespace orderlink {

namespace {

class PosixTraceFile final : public TraceFile {
 public:
  explicit PosixTraceFile(int fd) : fd_(fd) {}
  ~PosixTraceFile() override { ::close(fd_); }

  bool Write(std::string_view bytes, std::string* error) override {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else {
        *error = n < 0 ? std::strerror(errno) : "the file takes no more bytes";
        return false;
      }
    }
    return true;
  }

 private:
  int fd_;
};

std::uint64_t NowMicroseconds() {
  using namespace std::chrono;
  return static_cast<std::uint64_t>(
      duration_cast<microseconds>(system_clock::now().time_since_epoch()).count());
}

}  // namespace

std::unique_ptr<TraceFile> CreateTraceFile(const std::string& path, std::string* error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = std::strerror(errno);
    return nullptr;
  }
  return std::make_unique<PosixTraceFile>(fd);
}

FrameTrace::FrameTrace(std::unique_ptr<TraceFile> file, std::string name, MessageSink& messages,
                       std::size_t queueLimitBytes)
    : file_(std::move(file)),
      name_(std::move(name)),
      messages_(messages),
      queueLimitBytes_(queueLimitBytes),
      writer_([this] { Run(); }) {}

FrameTrace::~FrameTrace() {
  {
    std::lock_guard lock(mutex_);
    ending_ = true;
  }
  wake_.notify_one();
  writer_.join();
  if (const std::uint64_t dropped = Dropped(); dropped > 0) {
    LogWarning("frame trace: " + std::to_string(dropped) + " records were dropped in all");
  }
}

void FrameTrace::Record(TraceDirection direction, std::string_view bytes) {
  const std::uint64_t stamp = NowMicroseconds();
  {
    std::lock_guard lock(mutex_);
    if (stopped_) return;
    if (queuedBytes_ + bytes.size() > queueLimitBytes_) {
      ++dropped_;  // the writer logs it; this thread does no I/O
      return;
    }
    queue_.push_back({stamp, direction, std::string(bytes)});
    queuedBytes_ += bytes.size();
  }
  wake_.notify_one();
}

std::uint64_t FrameTrace::Dropped() const {
  std::lock_guard lock(mutex_);
  return dropped_;
}

bool FrameTrace::Stopped() const {
  std::lock_guard lock(mutex_);
  return stopped_;
}

void FrameTrace::Run() {
  std::string out = PcapngFileHeader("orderlink", "serial line");
  bool dropLogged = false;
  std::unique_lock lock(mutex_);
  while (true) {
    std::deque<Entry> batch;
    batch.swap(queue_);
    queuedBytes_ = 0;
    const bool logDrop = dropped_ > 0 && !dropLogged;
    lock.unlock();

    if (logDrop) {
      LogWarning("frame trace: the file cannot keep up with the line; records are dropped");
      dropLogged = true;
    }
    for (const Entry& entry : batch)
      out += PcapngPacket(entry.microseconds, entry.direction, entry.bytes);
    std::string error;
    if (!out.empty() && !file_->Write(out, &error)) {
      Fail(error);
      return;
    }
    out.clear();

    lock.lock();
    wake_.wait(lock, [this] { return !queue_.empty() || ending_; });
    if (queue_.empty() && ending_) return;
  }
}

void FrameTrace::Fail(const std::string& reason) {
  {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    queue_.clear();
    queuedBytes_ = 0;
  }
  LogError("frame trace: writing " + name_ + " failed (" + reason + "); the trace stops");
  messages_.ShowMessage("帧记录文件" + name_ + "写入失败（" + reason +
                        "），帧记录已停止，程序照常运行。请检查磁盘空间，再重新启动程序记录。");
}

std::shared_ptr<FrameTrace> StartFrameTrace(const std::string& path, MessageSink& messages) {
  std::string error;
  auto file = CreateTraceFile(path, &error);
  if (!file) {
    LogError("frame trace: cannot create " + path + " (" + error + ")");
    messages.ShowMessage("帧记录文件" + path + "无法创建（" + error +
                         "），本次运行不记录帧。请检查路径和写权限。");
    return nullptr;
  }
  LogInfo("frame trace: writing " + path);
  return std::make_shared<FrameTrace>(std::move(file), path, messages);
}

}  // namespace orderlink
