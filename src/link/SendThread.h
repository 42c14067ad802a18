#pragma once
// The send thread owns the line's schedule: it runs the posted work (LineWork) one
// piece at a time, in posting order, and while none is waiting it runs the poll ticks
// (HandsetPoller) at fixed instants of the steady clock. Every frame the program writes is written
// here, so a poll can never land inside a job's frames.
//
// Threads: Post from any thread (the window thread, the receive thread); it never
// waits for running work. Work, ticks, SendFrame and SendRecordFrame run on the send
// thread.
//
// Locks:
//   - Mutex() is held by the send thread while a job or a tick writes, for the base
//     station's dialogue, which writes from the window thread when it can take it.
//   - queueMutex_ guards the job queue and the tick schedule; it is taken only briefly
//     and never while Mutex() is held or waited for.

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

class SendThread;

// One piece of work for the line: what it is, for the log ("reply", "download status
// query"...), the handset it concerns (only its low byte goes on the line), and what
// it does on the send thread.
struct LineWork {
  std::string_view name;
  int handset = 0;
  std::function<void(SendThread&)> run;
};

class SendThread : public LineWorker {
 public:
  // Work waiting beyond the running one. Far more than the line can use: polling
  // posts nothing, and every other poster posts one piece per outside event.
  static constexpr std::size_t kQueueCapacity = 64;

  // `port` may be null (no serial control): work then runs without writing.
  SendThread(SerialPort* port, Clock& clock);
  ~SendThread() override;

  // Queues `work` behind what is already queued and returns at once. Refused (false,
  // and a log line naming the work and the handset) when the thread is not running
  // yet or has been told to end, or when kQueueCapacity pieces are already waiting;
  // refused work never runs, so a caller whose work the user would miss tells the
  // user. Any thread.
  [[nodiscard]] bool Post(LineWork work);

  // True between Start() and Terminate(): a refusal now means a full queue.
  [[nodiscard]] bool Accepting() const { return Started() && !Terminated(); }

  // Runs one piece of work as the loop does (lock, Touch, HoldOff := 10, the work,
  // Touch). Used by the loop, and by tests to run work synchronously.
  void Run(const LineWork& work);

  // True while no work is queued or running. Any thread.
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
  // Logs and forgets every queued piece of work; called with queueMutex_ held at the end.
  void DropQueued();
  // Waits for the next thing to do: work, a due tick (no `work.run`) or the end (true
  // for each); false when the schedule changed and the wait begins again.
  bool TakeWork(std::unique_lock<std::mutex>& queue, LineWork& work, std::function<void()>& tick);

  SerialPort* port_;
  std::mutex queueMutex_;
  std::condition_variable jobQueued_;
  std::deque<LineWork> queue_;       // guarded by queueMutex_
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
