#pragma once
// The send thread owns the line's schedule: it runs the posted jobs one at a time, in
// posting order, and while none is waiting it runs the poll ticks (HandsetPoller) at
// fixed instants of the steady clock. Every frame the program writes is written here,
// so a poll can never land inside a job's frames.
//
// Threads: PostJob from any thread (the window thread, the receive thread); it never
// waits for a job. RegisterJob on the window thread before Start(). Jobs, ticks,
// SendFrame and SendRecordFrame run on the send thread.
//
// Locks:
//   - Mutex() is held by the send thread while a job or a tick writes, for the base
//     station's dialogue, which writes from the window thread when it can take it.
//   - queueMutex_ guards the job queue and the tick schedule; it is taken only briefly
//     and never while Mutex() is held or waited for.

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>

#include "link/LineWorker.h"
#include "link/SerialPort.h"

namespace orderlink {

enum JobCode : int {
  JobReplyCode = 1,            // reply delivery
  JobDownloadCode = 2,         // download broadcast
  JobShortMessageCode = 4,     // short message to its recipient
  JobLinkTestCode = 5,         // link-test frame
  JobShortMessageAckCode = 6,  // short-message answer to the sender
  JobTimeReplyCode = 7,        // time answer
  JobStatusQueryCode = 8,      // download status query
  JobResendCode = 9,           // resend of download records
  JobEndAllCode = 10,          // end of download to all
};

// "reply", "download", ... for log lines; "job <code>" for other codes.
[[nodiscard]] std::string JobName(int code);

class SendThread : public LineWorker {
 public:
  using Job = std::function<void(SendThread&, std::uint8_t handset)>;
  // A job that takes the data posted with it (a message text, a time answer).
  using DataJob = std::function<void(SendThread&, std::uint8_t handset, std::string_view data)>;

  // Jobs waiting beyond the running one. Far more than the line can use: polling
  // posts nothing, and every other poster posts one job per outside event.
  static constexpr std::size_t kQueueCapacity = 64;

  // `port` may be null (no serial control): jobs then run without writing.
  SendThread(SerialPort* port, Clock& clock);
  ~SendThread() override;

  // Registers the body of job `code` (1..10, not 3). Window thread, before Start().
  void RegisterJob(int code, Job job);
  void RegisterDataJob(int code, DataJob job);

  // Queues job `code` for `handset` with its own `data`, behind the jobs already
  // queued, and returns at once. Refused (false, and a LogError naming the job and
  // the handset) when the thread is not running yet or has been told to end, or when
  // kQueueCapacity jobs are already waiting; a refused job never runs, so a caller
  // whose work the user would miss tells the user. Any thread.
  [[nodiscard]] bool PostJob(int code, int handset, std::string data = {});

  // True between Start() and Terminate(): a refusal now means a full queue.
  [[nodiscard]] bool Accepting() const { return Started() && !Terminated(); }

  // Runs one job as the loop does (lock, Touch, HoldOff := 10, body, Touch).
  // Used by the loop, and by tests to run a job synchronously.
  void RunJob(int code, std::uint8_t handset, std::string_view data = {});

  // True while no job is queued or running. Any thread.
  [[nodiscard]] bool Idle() const { return outstanding_.load() == 0; }

  // From now on `tick` runs on this thread every `period`, on deadlines of the steady
  // clock, whenever no job is waiting; a tick that falls inside a job runs one period
  // after the job. Replaces an earlier schedule; an empty `tick` ends it. Returns once
  // no tick of the old schedule runs (it never waits for a job). Any thread but this
  // one's ticks.
  void ScheduleTicks(std::chrono::milliseconds period, std::function<void()> tick);

  [[nodiscard]] SerialPort* Port() const { return port_; }
  // Writes bytes to the port if there is one; failures are ignored.
  void WriteToPort(std::string_view bytes);

 protected:
  void Execute() override;
  void WakeForTermination() override;

 private:
  struct PostedJob {
    int code;
    int handset;  // only its low byte goes on the line
    std::string data;
  };
  // Logs and forgets every queued job; called with queueMutex_ held at the end.
  void DropQueued();
  // Waits for the next thing to do: a job, a due tick (nothing in `job`) or the end
  // (true for each); false when the schedule changed and the wait begins again.
  bool TakeWork(std::unique_lock<std::mutex>& queue, PostedJob& job, std::function<void()>& tick);

  SerialPort* port_;
  std::array<DataJob, 11> jobs_{};
  std::mutex queueMutex_;
  std::condition_variable jobQueued_;
  std::deque<PostedJob> queue_;      // guarded by queueMutex_
  std::atomic<int> outstanding_{0};  // queued + running
  // The tick schedule, guarded by queueMutex_.
  std::function<void()> tick_;
  std::chrono::milliseconds tickPeriod_{0};
  std::chrono::steady_clock::time_point nextTick_;
  bool scheduleChanged_ = false;
  std::mutex tickRunning_;  // held while a tick runs; never while queueMutex_ is
};

// Sends `text` (or its first `length` bytes; 0 = all) as one message with the
// four-character `code` to `handset` under `route`, cut into packets with 150 ms
// between them.
// Called from inside a job (the send thread's lock is held). Stops between packets
// when the thread is told to end.
void SendFrame(SendThread& thread, std::uint8_t route, std::string_view code, int handset,
               std::size_t length, std::string_view text);

// Sends one download job line (wire form) as record frames with the five-digit
// `recordNumber`. `length` is the record data length (0 = job line length - 12).
void SendRecordFrame(SendThread& thread, int handset, std::string_view recordNumber,
                     std::size_t length, std::string_view jobLine);

}  // namespace orderlink
