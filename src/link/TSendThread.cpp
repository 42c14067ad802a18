#include "link/TSendThread.h"

#include "link/FrameCodec.h"
#include "link/LinkState.h"

namespace orderlink {

namespace {
constexpr int kJobHoldOffMs = 10;
constexpr int kNextPacketHoldOffMs = 160;  // a little longer than the pause below
constexpr int kPacketPauseMs = 150;        // handsets listen for 150 ms between packets
}  // namespace

TSendThread::TSendThread(SerialPort* port, Clock& clock) : TMyThread(clock), port_(port) {}

TSendThread::~TSendThread() { TerminateAndJoin(); }

void TSendThread::RegisterJob(int code, Job job) {
  if (code >= 1 && code <= 10 && code != 3) jobs_[code] = std::move(job);
}

void TSendThread::PostJob(int code, int handset) {
  std::unique_lock slot(slotMutex_);
  // Waiting and storing happen under one mutex, so two posters can never both see
  // a free slot: the second waits until the send thread has taken and run the first.
  slotChanged_.wait(slot, [this] { return pendingJob_.load() == 0 || Terminated(); });
  if (Terminated()) return;
  jobHandset_ = handset;
  pendingJob_ = code;
  slot.unlock();
  slotChanged_.notify_all();
}

void TSendThread::RunJob(int code, std::uint8_t handset) {
  std::lock_guard lock(Mutex());
  Touch();
  HoldOff = kJobHoldOffMs;
  if (code >= 1 && code <= 10 && jobs_[code]) jobs_[code](*this, handset);
  Touch();
}

void TSendThread::Execute() {
  while (true) {
    int code;
    {
      std::unique_lock slot(slotMutex_);
      slotChanged_.wait(slot, [this] { return pendingJob_.load() != 0 || Terminated(); });
      if (Terminated()) return;
      code = pendingJob_.load();
    }
    RunJob(code, static_cast<std::uint8_t>(jobHandset_.load()));
    {
      std::lock_guard slot(slotMutex_);
      pendingJob_ = 0;
    }
    slotChanged_.notify_all();
  }
}

void TSendThread::WakeForTermination() {
  { std::lock_guard slot(slotMutex_); }
  slotChanged_.notify_all();
}

void TSendThread::WriteToPort(std::string_view bytes) {
  if (port_ != nullptr) (void)port_->Write(bytes);  // the line reports no failures
}

namespace {

// Writes the packets of one message with the pauses between them. A pause cut
// short by shutdown ends the message.
void WritePackets(TSendThread& thread, const std::vector<std::string>& packets) {
  for (std::size_t i = 0; i < packets.size(); ++i) {
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

void SendFrame(TSendThread& thread, std::string_view code, int handset, std::size_t length,
               std::string_view text) {
  const std::uint8_t route = RouteByte.load();  // once per call, for every packet
  if (thread.Port() == nullptr) return;
  thread.Touch();
  if (length == 0 || length > text.size()) length = text.size();
  WritePackets(thread, EncodeMessage(route, code, static_cast<std::uint8_t>(handset),
                                     text.substr(0, length)));
}

void SendRecordFrame(TSendThread& thread, int handset, std::string_view recordNumber,
                     std::size_t length, std::string_view jobLine) {
  if (thread.Port() == nullptr) return;
  thread.Touch();
  WritePackets(thread,
               EncodeRecord(static_cast<std::uint8_t>(handset), recordNumber, jobLine, length));
}

}  // namespace orderlink
