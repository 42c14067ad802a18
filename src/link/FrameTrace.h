#pragma once
// A pcapng trace of the serial line for technicians: every frame sent and every
// chunk received, stamped to the microsecond, with its direction (PcapngWriter.h).
//
// Threads: Record is called by the line's threads (send thread, the
// window thread's receive event) and never touches the file: it copies the bytes
// into a bounded queue, and the trace's own writer thread writes them. When the
// queue is full a record is dropped and counted (logged once, the total at the end).
// A failed write (full disk, I/O error, a FIFO's reader that takes nothing for 5 s)
// stops the trace with one LogError and one message; the program goes on without
// it. A file that would grow past its size limit ends with the last whole record
// that fits and one log line. Construction and destruction happen on
// one thread; the destructor writes what is queued and joins the writer.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "common/MessageSink.h"
#include "link/PcapngWriter.h"

namespace orderlink {

// The file the trace goes to. Called by the writer thread only.
class TraceFile {
 public:
  virtual ~TraceFile() = default;
  // Writes all of `bytes`; false and a one-line reason on failure.
  [[nodiscard]] virtual bool Write(std::string_view bytes, std::string* error) = 0;
};

// Opens `path` for the trace without ever blocking: a regular file that holds an
// earlier trace is first renamed to `path`.1 (replacing an older one), then a new
// file is created; a FIFO without a reader is refused at once. nullptr and a
// one-line reason on failure.
[[nodiscard]] std::unique_ptr<TraceFile> CreateTraceFile(const std::string& path,
                                                         std::string* error);

class FrameTrace {
 public:
  static constexpr std::size_t kDefaultQueueLimitBytes = 4u << 20;

  // `name` is the file's name in messages. The file header is the first write.
  // `maxFileBytes` caps the file (header included); 0: no limit.
  FrameTrace(std::unique_ptr<TraceFile> file, std::string name, MessageSink& messages,
             std::size_t queueLimitBytes = kDefaultQueueLimitBytes, std::uint64_t maxFileBytes = 0);
  ~FrameTrace();
  FrameTrace(const FrameTrace&) = delete;
  FrameTrace& operator=(const FrameTrace&) = delete;

  // Any thread; stamps the bytes with the current time and queues them.
  void Record(TraceDirection direction, std::string_view bytes);
  // Any thread: an inbound packet without bytes whose comment is `note` ("discarded:
  // wrong address"), placed after the chunk that caused it.
  void Mark(std::string_view note);

  // Records dropped because the queue was full. Any thread.
  [[nodiscard]] std::uint64_t Dropped() const;
  // True once a write failed or the file is full: later records are ignored. Any thread.
  [[nodiscard]] bool Stopped() const;

 private:
  struct Entry {
    std::uint64_t microseconds;
    TraceDirection direction;
    std::string bytes;
    std::string comment;
  };

  void Queue(Entry entry);
  void Run();
  void Fail(const std::string& reason);
  void EndFull(std::uint64_t fileBytes);

  std::unique_ptr<TraceFile> file_;
  const std::string name_;
  MessageSink& messages_;
  const std::size_t queueLimitBytes_;
  const std::uint64_t maxFileBytes_;

  mutable std::mutex mutex_;  // guards everything below
  std::condition_variable wake_;
  std::deque<Entry> queue_;
  std::size_t queuedBytes_ = 0;
  std::uint64_t dropped_ = 0;
  bool stopped_ = false;
  bool ending_ = false;

  std::thread writer_;  // last: starts once the fields above exist
};

// Starts a trace into `path` (CreateTraceFile) of at most `maxFileBytes` (0: no
// limit). When the file cannot be opened it says so (log and message) and returns
// nullptr: the program runs untraced.
[[nodiscard]] std::shared_ptr<FrameTrace> StartFrameTrace(const std::string& path,
                                                          std::uint64_t maxFileBytes,
                                                          MessageSink& messages);

}  // namespace orderlink
