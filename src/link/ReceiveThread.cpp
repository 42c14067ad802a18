#include "link/ReceiveThread.h"

namespace orderlink {

namespace {
constexpr int kChunkHoldOffMs = 1000;
constexpr std::int64_t kFoldCountsAbove = 0x40000000;
}  // namespace

ReceiveThread::ReceiveThread(SerialPort* port, FrameSink& sink, LineActivity& line, Clock& clock)
    : LineWorker(clock), port_(port), line_(line), parser_(sink) {}

ReceiveThread::~ReceiveThread() { TerminateAndJoin(); }

ReceiveThread::InputResult ReceiveThread::ReadInput() {
  Touch();
  if (port_ == nullptr) return InputResult::Stored;
  if (RingFull()) return InputResult::RingFull;  // the bytes wait in the kernel
  const ReadOutcome outcome = port_->Read(readBuffer_, kMaxReadBytes);
  // Room was checked above and only this thread stores, so the chunk fits.
  (void)StoreChunk(readBuffer_);
  return outcome == ReadOutcome::Ok ? InputResult::Stored : InputResult::HungUp;
}

bool ReceiveThread::RingFull() {
  std::lock_guard lock(Mutex());
  return writeCount_.load() - readCount_.load() >= kRingSlots;
}

bool ReceiveThread::StoreChunk(std::string_view bytes) {
  Touch();
  if (bytes.empty()) return true;
  {
    std::lock_guard lock(Mutex());
    const std::int64_t written = writeCount_.load();
    if (written - readCount_.load() >= kRingSlots) return false;
    Touch();
    const auto slot = static_cast<std::size_t>(written % kRingSlots);
    slots_[slot].assign(bytes);
    resetBefore_[slot] = resetBeforeNextChunk_;
    resetBeforeNextChunk_ = false;
    Touch();
    ++writeCount_;  // the slot is complete before the count exposes it
  }
  Touch();
  { std::lock_guard wake(wakeMutex_); }
  chunkStored_.notify_one();
  return true;
}

int ReceiveThread::HandleChunks() {
  int handled = 0;
  while (readCount_.load() < writeCount_.load()) {
    const auto slot = static_cast<std::size_t>(readCount_.load() % kRingSlots);
    std::string& chunk = slots_[slot];
    Touch();
    HoldOff = kChunkHoldOffMs;
    if (resetBefore_[slot]) parser_.Reset();
    if (line_.stationTransfer.load()) {
      // Judged whole and stored once: a chunk that only begins like the answer
      // never shows as one, not even for a moment.
      line_.stationAck = IsStationAcknowledgement(chunk) ? 1 : 0;
    } else {
      parser_.Push(chunk);
    }
    // A chunk stored by hand may be larger than a read; its slot does not keep that.
    if (chunk.capacity() > kMaxReadBytes) std::string().swap(chunk);
    Touch();
    ++readCount_;
    ++handled;
  }
  if (handled > 0 && readCount_.load() > kFoldCountsAbove) {
    std::lock_guard lock(Mutex());
    const std::int64_t read = readCount_.load();
    const std::int64_t kept = read % kRingSlots;
    writeCount_ -= read - kept;
    readCount_ = kept;
  }
  return handled;
}

void ReceiveThread::Execute() {
  while (!Terminated()) {
    if (HandleChunks() > 0) continue;
    std::unique_lock wake(wakeMutex_);
    chunkStored_.wait(wake,
                      [this] { return readCount_.load() < writeCount_.load() || Terminated(); });
  }
}

void ReceiveThread::WakeForTermination() {
  { std::lock_guard wake(wakeMutex_); }
  chunkStored_.notify_all();
}

}  // namespace orderlink
