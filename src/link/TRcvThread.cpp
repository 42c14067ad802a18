#include "link/TRcvThread.h"

#include <algorithm>
#include <cstring>

#include "common/ActivityState.h"
#include "link/LinkState.h"

namespace orderlink {

namespace {
constexpr int kChunkHoldOffMs = 1000;
constexpr std::int64_t kFoldCountsAbove = 0x40000000;
constexpr std::uint8_t kStationSignature[5] = {0xFF, 0xAA, 0x55, 0x32, 0xCD};
constexpr std::uint8_t kAddressPc = 0xFF;

bool IsCrcFrame(const std::array<std::uint8_t, 8>& header) {
  return header[4] == 'C' && header[5] == 'R' && header[6] == 'C';
}
}  // namespace

TRcvThread::TRcvThread(SerialPort* port, RcvHandlers& handlers, Clock& clock)
    : TMyThread(clock), port_(port), handlers_(handlers) {}

TRcvThread::~TRcvThread() { TerminateAndJoin(); }

TRcvThread::InputResult TRcvThread::ReadInput() {
  Touch();
  if (port_ == nullptr) return InputResult::Stored;
  if (RingFull()) return InputResult::RingFull;  // the bytes wait in the kernel
  const ReadOutcome outcome = port_->Read(readBuffer_, kMaxReadBytes);
  // Room was checked above and only this thread stores, so the chunk fits.
  (void)StoreChunk(readBuffer_);
  return outcome == ReadOutcome::Ok ? InputResult::Stored : InputResult::HungUp;
}

bool TRcvThread::RingFull() {
  std::lock_guard lock(Mutex());
  return writeCount_.load() - readCount_.load() >= kRingSlots;
}

bool TRcvThread::StoreChunk(std::string_view bytes) {
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

int TRcvThread::HandleChunks() {
  int handled = 0;
  while (readCount_.load() < writeCount_.load()) {
    const auto slot = static_cast<std::size_t>(readCount_.load() % kRingSlots);
    std::string& chunk = slots_[slot];
    Touch();
    HoldOff = kChunkHoldOffMs;
    if (resetBefore_[slot]) ResetParser();
    if (StationTransfer.load()) {
      CheckStationAck(chunk);
    } else {
      for (char c : chunk) ParseByte(static_cast<std::uint8_t>(c));
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

void TRcvThread::Execute() {
  while (!Terminated()) {
    if (HandleChunks() > 0) continue;
    std::unique_lock wake(wakeMutex_);
    chunkStored_.wait(wake, [this] { return readCount_.load() < writeCount_.load() || Terminated(); });
  }
}

void TRcvThread::WakeForTermination() {
  { std::lock_guard wake(wakeMutex_); }
  chunkStored_.notify_all();
}

void TRcvThread::ResetParser() {
  state_ = STATE_FREE;
  zeroRun_ = 0;
  headerPos_ = 0;
  header_ = {};
  current_ = {};
  previous_ = {};
  remain_ = 0;
  discard_ = 0;
  overflow_ = false;
  buffer_[0] = 0;  // a header-only time query reads the handset from here
  contentPos_ = 0;
}

void TRcvThread::CheckStationAck(const std::string& chunk) {
  // The whole signature is compared before the flag is stored, once: a chunk that
  // only begins like the answer never shows as one, not even for a moment. A chunk
  // too short to hold the signature is no acknowledgement.
  const auto sameByte = [](std::uint8_t expected, char got) {
    return static_cast<std::uint8_t>(got) == expected;
  };
  const bool answered = chunk.size() >= sizeof kStationSignature &&
                        std::equal(std::begin(kStationSignature), std::end(kStationSignature),
                                   chunk.begin(), sameByte);
  StationAck = answered ? 1 : 0;
}

void TRcvThread::ParseByte(std::uint8_t b) {
  if (b != 0) {
    zeroRun_ = 0;
  } else if (++zeroRun_ == 3) {
    // Three zero bytes start every frame: whatever was being received is abandoned.
    zeroRun_ = 0;
    headerPos_ = 0;
    state_ = STATE_FREE1;
    handlers_.ShowParserState("state = STATE_FREE1;");
  }

  switch (state_) {
    case STATE_FREE:
      header_[headerPos_] = b;
      if (b == 1) {
        state_ = STATE_SKIP;
      } else if (b >= 7) {
        ++headerPos_;
        state_ = STATE_RCV_HEADER;
        handlers_.ShowParserState("state =STATE_RCV_HEADER");
      }
      break;
    case STATE_SKIP:  // the handset number of a short frame
      state_ = STATE_FREE;
      break;
    case STATE_FREE1:
      // Only the first non-zero byte is kept: storing the zeros of a longer
      // preamble too would let a reply sent at that moment carry route 0.
      if (b != 0) {
        RouteByte = b;
        state_ = STATE_FREE;
      }
      break;
    case STATE_RCV_HEADER:
      header_[headerPos_++] = b;
      if (headerPos_ == 8) HeaderComplete();
      break;
    case STATE_RCV_CONTENT:
      if (contentPos_ < kMessageBufferSize) {
        buffer_[contentPos_++] = b;
      } else {
        overflow_ = true;  // the joined bodies do not fit: drop the message at its end
      }
      if (--remain_ == 0) BodyComplete();
      break;
  }
}

void TRcvThread::HeaderComplete() {
  current_ = header_;
  remain_ = header_[0] - 7;
  const std::uint8_t address = header_[1];
  const std::uint8_t sequence = header_[2];
  const bool crc = IsCrcFrame(header_);
  const bool sameCommand = std::equal(header_.begin() + 4, header_.end(), previous_.begin() + 4);

  if (sequence == 1 && !crc && address == kAddressPc) {
    discard_ = 0;
    overflow_ = false;
    contentPos_ = 0;
  } else if (sequence == static_cast<std::uint8_t>(previous_[2] + 1) && !crc && sameCommand &&
             address == kAddressPc) {
    // Continues the current message: its body is appended.
  } else {
    discard_ = 1;
    handlers_.OnDiscardedPacket();
  }

  if (remain_ == 0) {
    // A header-only frame. Only a time query for the PC is answered; a header-only
    // "SJCX" addressed elsewhere is not ours to answer.
    if (Command() == "SJCX" && discard_ == 0) {
      handlers_.OnTimeQuery(*this);
      handlers_.ShowParserState("返回时间");
    }
    state_ = STATE_FREE;
  } else {
    state_ = STATE_RCV_CONTENT;
  }
  handlers_.ShowParserState("state =STATE_RCV_CONTENT");
  headerPos_ = 0;
  previous_ = header_;
}

void TRcvThread::BodyComplete() {
  const bool more = current_[3] == 1;
  if (more) {
    state_ = STATE_FREE;  // wait for the next packet of the message
    return;
  }
  if (discard_ == 1) {
    handlers_.OnDiscardedPacket();
  } else if (!overflow_) {
    --contentPos_;  // now counts the payload after the handset-number byte
    const std::string_view command = Command();
    if (command == "TXCS") {
      handlers_.OnTestAnswer(*this);
    } else if (command == "XZWC" || command == "XZSB") {
      handlers_.OnDownloadResult(*this);
    } else if (command == "XZCC") {
      handlers_.OnResendRequest(*this);
    } else {
      handlers_.OnRequest(*this);
    }
  }
  contentPos_ = 0;
  overflow_ = false;
  state_ = STATE_FREE;
  handlers_.ShowParserState("state = STATE_FREE;");
}

}  // namespace orderlink
