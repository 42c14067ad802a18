#pragma once
// The send thread: runs one posted job at a time from a single job slot. Every
// frame except the poll is written here, under the thread's lock.
//
// Lock (Mutex()): held by the send thread for the whole run of a job and by the
// poller while it writes a poll frame, so a poll never lands inside a job's frames.
// The job slot has its own mutex, taken only briefly and never while waiting for
// Mutex().

#include <array>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <string_view>

#include "link/SerialPort.h"
#include "link/TMyThread.h"

namespace orderlink {

enum JobCode : int {
  JobReplyCode = 1,             // reply delivery
  JobDownloadCode = 2,          // download broadcast
  JobShortMessageCode = 4,      // short message to its recipient
  JobLinkTestCode = 5,          // link-test frame
  JobShortMessageAckCode = 6,   // short-message answer to the sender
  JobTimeReplyCode = 7,         // time answer
  JobStatusQueryCode = 8,       // download status query
  JobResendCode = 9,            // resend of download records
  JobEndAllCode = 10,           // end of download to all
};

class TSendThread : public TMyThread {
 public:
  using Job = std::function<void(TSendThread&, std::uint8_t handset)>;

  // `port` may be null (no serial control): jobs then run without writing.
  TSendThread(SerialPort* port, Clock& clock);
  ~TSendThread() override;

  // Registers the body of job `code` (1..10). Window thread, before Start().
  void RegisterJob(int code, Job job);

  // Blocks while a job is pending or running, then stores this one. Never
  // overwrites a job another thread posted. Returns at once after Terminate().
  void PostJob(int code, int handset);

  // Runs one job as the loop does (lock, Touch, HoldOff := 10, body, Touch).
  // Used by the loop, and by tests to run a job synchronously.
  void RunJob(int code, std::uint8_t handset);

  // True while no job is pending or running.
  [[nodiscard]] bool Idle() const { return pendingJob_.load() == 0; }

  [[nodiscard]] SerialPort* Port() const { return port_; }
  // Writes bytes to the port if there is one; failures are ignored.
  void WriteToPort(std::string_view bytes);

 protected:
  void Execute() override;
  void WakeForTermination() override;

 private:
  SerialPort* port_;
  std::array<Job, 11> jobs_{};
  std::mutex slotMutex_;  // guards the wait for a free slot; never held with Mutex()
  std::condition_variable slotChanged_;
  std::atomic<int> pendingJob_{0};
  std::atomic<int> jobHandset_{0};
};

// Sends `text` (or its first `length` bytes; 0 = all) as one message with the
// four-character `code` to `handset`, cut into packets with 150 ms between them.
// Called from inside a job (the send thread's lock is held).
void SendFrame(TSendThread& thread, std::string_view code, int handset, std::size_t length,
               std::string_view text);

// Sends one download job line (wire form) as record frames with the five-digit
// `recordNumber`. `length` is the record data length (0 = job line length - 12).
void SendRecordFrame(TSendThread& thread, int handset, std::string_view recordNumber,
                     std::size_t length, std::string_view jobLine);

}  // namespace orderlink
