#pragma once
// The receive thread: the window thread stores each burst of received bytes in an
// input ring (ReadInput); the thread takes the chunks in order and feeds them to
// the frame parser ParseByte, which hands complete messages for the PC to
// RcvHandlers by command code.
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

#include "link/SerialPort.h"
#include "link/TMyThread.h"

namespace orderlink {

class TRcvThread;

// Hand-overs of complete messages. All run on the receive thread inside ParseByte;
// they must not wait for the window thread.
class RcvHandlers {
 public:
  virtual ~RcvHandlers() = default;
  // "TXCS": the link-test answer.
  virtual void OnTestAnswer(TRcvThread& thread) = 0;
  // "XZWC" / "XZSB": the handset (buffer byte 0) finished or failed its download.
  virtual void OnDownloadResult(TRcvThread& thread) = 0;
  // "XZCC": records to resend; payload is buffer bytes 1..ContentPos.
  virtual void OnResendRequest(TRcvThread& thread) = 0;
  // "SJCX" without body: the time query (handset = buffer byte 0, left from earlier frames).
  virtual void OnTimeQuery(TRcvThread& thread) = 0;
  // Every other command: the request dispatch.
  virtual void OnRequest(TRcvThread& thread) = 0;
  // A packet was discarded (at its header, and at the end of a discarded message):
  // the download status timer is re-armed while a download round is active.
  virtual void OnDiscardedPacket() = 0;
  // Parser state text for the diagnostic field (Edit3). Called often; keep it cheap.
  virtual void ShowParserState(const char* text) = 0;
};

class TRcvThread : public TMyThread {
 public:
  static constexpr int kRingSlots = 1024;
  static constexpr int kMessageBufferSize = 102403;

  enum State { STATE_FREE, STATE_RCV_HEADER, STATE_RCV_CONTENT, STATE_SKIP, STATE_FREE1 };

  // `port` may be null. `handlers` must outlive the thread.
  TRcvThread(SerialPort* port, RcvHandlers& handlers, Clock& clock);
  ~TRcvThread() override;

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

  // Handles every waiting chunk, as one pass of the loop; returns how many.
  int HandleChunks();
  // One parser step (receive thread; public for tests and benchmarks).
  void ParseByte(std::uint8_t b);

  // The message handed over: command code, buffer (byte 0 = handset), payload length.
  [[nodiscard]] std::string_view Command() const {
    return {reinterpret_cast<const char*>(current_.data() + 4), 4};
  }
  [[nodiscard]] const std::uint8_t* Buffer() const { return buffer_.data(); }
  [[nodiscard]] int ContentPos() const { return contentPos_; }
  [[nodiscard]] std::uint8_t HandsetNumber() const { return buffer_[0]; }
  [[nodiscard]] std::string_view Payload() const {
    return {reinterpret_cast<const char*>(buffer_.data() + 1), static_cast<std::size_t>(contentPos_)};
  }
  [[nodiscard]] State RxState() const { return state_; }

 protected:
  void Execute() override;
  void WakeForTermination() override;

 private:
  void HeaderComplete();
  void BodyComplete();
  void CheckStationAck(const std::string& chunk);
  void ResetParser();
  [[nodiscard]] bool RingFull();

  SerialPort* port_;
  RcvHandlers& handlers_;

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

  // Parser.
  State state_ = STATE_FREE;
  int zeroRun_ = 0;
  int headerPos_ = 0;
  std::array<std::uint8_t, 8> header_{};
  // Current header: [0] Remain (L - 7) as int below, [1] address, [2] sequence, [3] more, [4..7] code.
  std::array<std::uint8_t, 8> current_{};
  std::array<std::uint8_t, 8> previous_{};
  int remain_ = 0;
  std::uint8_t discard_ = 0;
  bool overflow_ = false;  // joined bodies exceed the buffer: the message is dropped
  std::array<std::uint8_t, kMessageBufferSize> buffer_{};
  int contentPos_ = 0;
};

}  // namespace orderlink
