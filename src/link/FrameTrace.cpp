#include "link/FrameTrace.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "common/Log.h"

namespace orderlink {

namespace {

// How long a FIFO's reader may take nothing before the trace gives up on it, so
// that a stalled reader cannot hold the writer (and so the shutdown) for ever.
constexpr int kStalledReaderMs = 5000;

class PosixTraceFile final : public TraceFile {
 public:
  explicit PosixTraceFile(int fd) : fd_(fd) {}
  ~PosixTraceFile() override { ::close(fd_); }

  // The descriptor is non-blocking: a full pipe is waited for here, a bounded time.
  bool Write(std::string_view bytes, std::string* error) override {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else if (n < 0 && errno == EAGAIN) {
        pollfd ready{fd_, POLLOUT, 0};
        if (::poll(&ready, 1, kStalledReaderMs) <= 0 || (ready.revents & POLLOUT) == 0) {
          *error = "the reader took nothing for " + std::to_string(kStalledReaderMs / 1000) + " s";
          return false;
        }
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
  struct stat existing {};
  if (::stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode) && existing.st_size > 0) {
    const std::string previous = path + ".1";
    if (::rename(path.c_str(), previous.c_str()) != 0) {
      *error = "the previous trace cannot be kept as " + previous + ": " + std::strerror(errno);
      return nullptr;
    }
    LogInfo("frame trace: the previous trace is kept as " + previous);
  }
  // O_NONBLOCK: a FIFO without a reader fails at once (ENXIO) instead of holding
  // the start in open() until someone reads it.
  const int fd =
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = errno == ENXIO ? "it is a FIFO that no program reads; start the reader first"
                            : std::strerror(errno);
    return nullptr;
  }
  return std::make_unique<PosixTraceFile>(fd);
}

FrameTrace::FrameTrace(std::unique_ptr<TraceFile> file, std::string name, MessageSink& messages,
                       std::size_t queueLimitBytes, std::uint64_t maxFileBytes)
    : file_(std::move(file)),
      name_(std::move(name)),
      messages_(messages),
      queueLimitBytes_(queueLimitBytes),
      maxFileBytes_(maxFileBytes),
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
  Queue({NowMicroseconds(), direction, std::string(bytes), {}});
}

void FrameTrace::Mark(std::string_view note) {
  Queue({NowMicroseconds(), TraceDirection::Inbound, {}, std::string(note)});
}

void FrameTrace::Queue(Entry entry) {
  const std::size_t size = entry.bytes.size() + entry.comment.size();
  {
    std::lock_guard lock(mutex_);
    if (stopped_) return;
    if (queuedBytes_ + size > queueLimitBytes_) {
      ++dropped_;  // the writer logs it; this thread does no I/O
      return;
    }
    queue_.push_back(std::move(entry));
    queuedBytes_ += size;
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
  std::uint64_t fileBytes = 0;
  bool full = false;
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
    for (const Entry& entry : batch) {
      std::string packet =
          PcapngPacket(entry.microseconds, entry.direction, entry.bytes, entry.comment);
      // Whole blocks only: the file stays a valid pcapng when the cap ends it.
      if (maxFileBytes_ > 0 && fileBytes + out.size() + packet.size() > maxFileBytes_) {
        full = true;
        break;
      }
      out += packet;
    }
    std::string error;
    if (!out.empty() && !file_->Write(out, &error)) {
      Fail(error);
      return;
    }
    fileBytes += out.size();
    out.clear();
    if (full) {
      EndFull(fileBytes);
      return;
    }

    lock.lock();
    wake_.wait(lock, [this] { return !queue_.empty() || ending_; });
    if (queue_.empty() && ending_) return;
  }
}

void FrameTrace::EndFull(std::uint64_t fileBytes) {
  {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    queue_.clear();
    queuedBytes_ = 0;
  }
  LogWarning("frame trace: " + name_ + " reached its limit of " + std::to_string(maxFileBytes_) +
             " bytes (TraceMax=) with " + std::to_string(fileBytes) +
             " bytes; the trace ends here, the program goes on");
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

std::shared_ptr<FrameTrace> StartFrameTrace(const std::string& path, std::uint64_t maxFileBytes,
                                            MessageSink& messages) {
  std::string error;
  auto file = CreateTraceFile(path, &error);
  if (!file) {
    LogError("frame trace: cannot create " + path + " (" + error + ")");
    messages.ShowMessage("帧记录文件" + path + "无法创建（" + error +
                         "），本次运行不记录帧。请检查路径和写权限。");
    return nullptr;
  }
  LogInfo("frame trace: writing " + path +
          (maxFileBytes > 0 ? " (at most " + std::to_string(maxFileBytes) + " bytes, TraceMax=)"
                            : " (no size limit)"));
  return std::make_shared<FrameTrace>(std::move(file), path, messages,
                                      FrameTrace::kDefaultQueueLimitBytes, maxFileBytes);
}

}  // namespace orderlink
