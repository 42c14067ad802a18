#include "link/SendThread.h"

#include "common/Log.h"
#include "link/FrameCodec.h"

namespace orderlink {

namespace {
constexpr int kJobHoldOffMs = 10;
constexpr int kNextPacketHoldOffMs = 160;  // a little longer than kPacketPauseMs
}  // namespace

SendThread::SendThread(SerialPort* port, Clock& clock) : LineWorker(clock), port_(port) {}

SendThread::~SendThread() { TerminateAndJoin(); }

bool SendThread::Post(LineWork work) {
  const char* refusal = nullptr;
  {
    std::lock_guard queue(queueMutex_);
    if (!Started()) {
      refusal = "the send thread is not running yet";
    } else if (Terminated()) {
      refusal = "the send thread has ended";
    } else if (queue_.size() >= kQueueCapacity) {
      refusal = "the send queue is full";
    } else {
      queue_.push_back(std::move(work));
      ++outstanding_;
    }
  }
  if (refusal != nullptr) {
    LogWarning(std::string(refusal) + ": " + std::string(work.name) + " for handset " +
               std::to_string(work.handset) + " is not sent");
    return false;
  }
  jobQueued_.notify_one();
  return true;
}

void SendThread::Run(const LineWork& work) {
  std::lock_guard lock(Mutex());
  Touch();
  HoldOff = kJobHoldOffMs;
  if (work.run) work.run(*this);
  Touch();
}

void SendThread::ScheduleTicks(std::chrono::milliseconds period, std::function<void()> tick) {
  {
    std::lock_guard queue(queueMutex_);
    tick_ = period.count() > 0 ? std::move(tick) : nullptr;
    tickPeriod_ = period;
    nextTick_ = std::chrono::steady_clock::now() + period;
    scheduleChanged_ = true;
  }
  jobQueued_.notify_one();
  // A tick of the old schedule that runs now ends first; a job is not waited for.
  std::lock_guard running(tickRunning_);
}

void SendThread::Execute() {
  while (true) {
    LineWork work;
    std::function<void()> tick;
    {
      std::unique_lock queue(queueMutex_);
      if (!TakeWork(queue, work, tick)) continue;
      if (Terminated()) {
        DropQueued();
        return;
      }
    }
    if (work.run) {
      Run(work);
      --outstanding_;
      // The ticks that fell inside the job are not made up: the next one comes a
      // period after it.
      std::lock_guard queue(queueMutex_);
      nextTick_ = std::chrono::steady_clock::now() + tickPeriod_;
    } else if (tick) {
      std::lock_guard running(tickRunning_);
      std::lock_guard lock(Mutex());
      tick();
    }
  }
}

bool SendThread::TakeWork(std::unique_lock<std::mutex>& queue, LineWork& work,
                          std::function<void()>& tick) {
  using std::chrono::steady_clock;
  const auto ready = [this] { return !queue_.empty() || Terminated() || scheduleChanged_; };
  // The deadline is absolute: a tick does not drift by the time the last one took.
  if (tick_) {
    const auto deadline = nextTick_;
    jobQueued_.wait_until(queue, deadline, ready);
  } else {
    jobQueued_.wait(queue, ready);
  }
  scheduleChanged_ = false;
  if (Terminated()) return true;
  if (!queue_.empty()) {
    work = std::move(queue_.front());
    queue_.pop_front();
    return true;
  }
  const auto now = steady_clock::now();
  if (!tick_ || now < nextTick_) return false;
  tick = tick_;
  nextTick_ += tickPeriod_;
  // After a stall (a busy machine): the next deadline, not a burst of them.
  if (nextTick_ <= now) nextTick_ = now + tickPeriod_;
  return true;
}

void SendThread::DropQueued() {
  for (const LineWork& work : queue_) {
    LogWarning("shutdown: " + std::string(work.name) + " for handset " +
               std::to_string(work.handset) + " is not sent");
  }
  outstanding_ -= static_cast<int>(queue_.size());
  queue_.clear();
}

void SendThread::WakeForTermination() {
  { std::lock_guard queue(queueMutex_); }
  jobQueued_.notify_all();
}

void SendThread::WriteToPort(std::string_view bytes) {
  if (port_ != nullptr) (void)port_->Write(bytes);  // the line reports no failures
}

namespace {

// Writes the packets of one message with the pauses between them. Shutdown ends
// the message before its next packet, also in the middle of a pause.
void WritePackets(SendThread& thread, const std::vector<std::string>& packets) {
  for (std::size_t i = 0; i < packets.size(); ++i) {
    if (thread.Terminated()) return;
    if (i > 0) {
      thread.HoldOff = kNextPacketHoldOffMs;
      if (!thread.Pause(kPacketPauseMs)) return;
    }
    thread.Touch();
    thread.WriteToPort(packets[i]);
    thread.Touch();
  }
}

}  // namespace

void SendFrame(SendThread& thread, std::uint8_t route, std::string_view code, int handset,
               std::size_t length, std::string_view text) {
  if (thread.Port() == nullptr) return;
  thread.Touch();
  if (length == 0 || length > text.size()) length = text.size();
  WritePackets(thread, EncodeMessage(route, code, static_cast<std::uint8_t>(handset),
                                     text.substr(0, length)));
}

void SendRecordFrame(SendThread& thread, int handset, std::string_view recordNumber,
                     std::size_t length, std::string_view jobLine) {
  if (thread.Port() == nullptr) return;
  thread.Touch();
  WritePackets(thread,
               EncodeRecord(static_cast<std::uint8_t>(handset), recordNumber, jobLine, length));
}

}  // namespace orderlink
