#pragma once
// The receive thread: the window thread stores each burst of received bytes in an
// input ring (ReadInput); the thread takes the chunks in order and feeds them to
// its FrameParser, which hands complete messages to the sink on this thread. While
// the base-station settings are transferred a chunk is not parsed but only compared
// with the base station's answer signature (LineActivity::stationAck).
//
// Lock (Mutex()): guards storing a chunk together with the write count, and the
// folding of both counts.
//
// The ring is bounded: a read takes at most kMaxReadBytes, a slot never keeps more
// than that, and the window thread never waits for room. When the ring is full it
// leaves the bytes in the kernel (ReadInput says RingFull) and reads again later.

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <string>
#include <string_view>

#include "link/FrameParser.h"
#include "link/LineActivity.h"
#include "link/LineWorker.h"
#include "link/SerialPort.h"

namespace orderlink {

class ReceiveThread : public LineWorker {
 public:
  static constexpr int kRingSlots = 1024;

  // `port` may be null. `sink` and `line` must outlive the thread.
  ReceiveThread(SerialPort* port, FrameSink& sink, LineActivity& line, Clock& clock);
  ~ReceiveThread() override;

  enum class InputResult {
    Stored,    // what the port had buffered (up to kMaxReadBytes) is in the ring
    RingFull,  // nothing was read: try again once the receive thread took chunks
    HungUp,    // the port hung up or has no device
  };
  // Window thread: reads what the port has buffered, at most kMaxReadBytes, and
  // stores it as one chunk (nothing is stored for an empty read). Never waits.
  [[nodiscard]] InputResult ReadInput();
  // Stores `bytes` as one chunk (what ReadInput does after reading the port). False,
  // with nothing stored, while the ring is full. Window thread (or a test's).
  bool StoreChunk(std::string_view bytes);
  // Window thread: the next chunk stored comes from a new device. The receive
  // thread puts the parser back to its initial state before it parses that chunk,
  // so a frame cut off by the old device never joins bytes of the new one; chunks
  // stored before are still parsed as they came.
  void ResetParserBeforeNextChunk() { resetBeforeNextChunk_ = true; }

  // The parser's drops by reason. Any thread.
  [[nodiscard]] const DiscardCounters& Discards() const { return parser_.Discards(); }

  // Handles every waiting chunk, as one pass of the loop; returns how many.
  int HandleChunks();

 protected:
  void Execute() override;
  void WakeForTermination() override;

 private:
  [[nodiscard]] bool RingFull();

  SerialPort* port_;
  LineActivity& line_;

  // Input ring. A slot (bytes and its reset mark) is complete before the write
  // count that exposes it is increased.
  std::array<std::string, kRingSlots> slots_;
  std::array<bool, kRingSlots> resetBefore_{};
  std::atomic<std::int64_t> writeCount_{0};
  std::atomic<std::int64_t> readCount_{0};
  std::mutex wakeMutex_;  // for the receive thread's wait; never held with Mutex()
  std::condition_variable chunkStored_;
  // Window thread only.
  std::string readBuffer_;
  bool resetBeforeNextChunk_ = false;

  // Receive thread only.
  FrameParser parser_;
};

}  // namespace orderlink
