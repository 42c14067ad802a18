#pragma once
// The frame parser: bytes from the line in, complete messages for the PC out.
//
// Push-fed, one state step per byte, no allocation: the caller feeds what the line
// delivered, cut anywhere, and the parser hands each complete message to its sink
// before Push returns. It owns all its state; it knows no thread, port or clock.
//
// Frames are found by a run of three zero bytes, the route byte after it and the
// length byte. Only frames addressed to the PC (0xFF) make messages; packets of one
// message follow with sequence + 1 and the same command code, and only while that
// message is open: its last packet arrived whole with the more flag set. Packets not
// addressed to the PC, out of sequence, with another command, with a command beginning
// with "CRC", or continuing no open message (its start was lost, it had ended, or its
// packet before was cut off) are read to their end and dropped, and so is the rest of
// their message. Every drop is counted under its reason (DiscardReasons.h) and told to
// the sink.
//
// Threads: one object is used by one thread at a time (the receive thread).

#include <array>
#include <cstdint>
#include <string_view>

#include "link/DiscardReasons.h"
#include "link/FrameCodec.h"

namespace orderlink {

// Who serves a complete message, by its command code.
enum class MessageKind {
  TestAnswer,      // kCodeLinkTest: the link-test answer
  DownloadResult,  // kCodeDownloadComplete / kCodeDownloadFailed: the handset finished or failed
                   // its download
  ResendRequest,   // kCodeDownloadRecordsMissing: download records to resend
  TimeQuery,       // kCodeTime without body
  Request,         // every other command: the request dispatch
};

// A complete message for the PC. The views point into the parser and are valid only
// during the sink call that receives the message.
struct Message {
  MessageKind kind = MessageKind::Request;
  std::string_view command;  // four characters
  // The sending handset: the first body byte. A time query has no body and carries
  // the first body byte of the last message with one (0 before any).
  std::uint8_t handset = 0;
  std::uint8_t route = 0;    // route byte of the frame that completed the message
  std::string_view payload;  // joined bodies after the handset byte
};

// Receives what the parser finds, on the thread that pushes bytes. The calls must
// not wait for the window thread: it may be waiting for room in the input ring.
class FrameSink {
 public:
  virtual ~FrameSink() = default;
  virtual void OnMessage(const Message& message) = 0;
  // A packet was dropped: at its header, and again at the end of a dropped message.
  virtual void OnDiscardedPacket() {}
  // Bytes were dropped for `reason` (counted already), once for each drop.
  virtual void OnDiscard(DiscardReason /*reason*/) {}
  // The route byte of a frame, when the first non-zero byte after its preamble arrives.
  virtual void OnRouteByte(std::uint8_t /*route*/) {}
};

// True when `chunk` begins with the base station's answer signature FF AA 55 32 CD.
// A chunk too short to hold the signature is no answer.
[[nodiscard]] bool IsStationAcknowledgement(std::string_view chunk);

class FrameParser {
 public:
  // The joined bodies of one message (handset byte included); a longer message is
  // dropped at its end.
  static constexpr int kMessageBufferSize = 102403;

  // `sink` must outlive the parser.
  explicit FrameParser(FrameSink& sink) : sink_(sink) {}
  FrameParser(const FrameParser&) = delete;
  FrameParser& operator=(const FrameParser&) = delete;

  void Push(std::uint8_t byte);
  void Push(std::string_view bytes) {
    for (char c : bytes) Push(static_cast<std::uint8_t>(c));
  }
  // Back to the state at creation: a frame cut off by a lost device must not join
  // bytes of the next one.
  void Reset();

  // Body bytes of the message being received (kept at kMessageBufferSize when more came).
  [[nodiscard]] int StoredBodyBytes() const { return contentPos_; }

  // Drops since creation, by reason; Reset keeps them. Any thread.
  [[nodiscard]] const DiscardCounters& Discards() const { return discards_; }

 private:
  enum State { kFree, kHeader, kContent, kSkip, kAfterPreamble };

  void HeaderComplete();
  void BodyComplete();
  void Hand(MessageKind kind, std::string_view payload);
  void Drop(DiscardReason reason);
  [[nodiscard]] DiscardReason WhyNotContinued(bool sameCommand) const;
  [[nodiscard]] std::string_view Command() const {
    return {reinterpret_cast<const char*>(current_.data() + 4), 4};
  }

  FrameSink& sink_;
  State state_ = kFree;
  int zeroRun_ = 0;
  int headerPos_ = 0;
  std::uint8_t route_ = kDefaultRoute;
  // Header bytes: length, address, sequence, more, command code (4).
  std::array<std::uint8_t, 8> header_{};
  std::array<std::uint8_t, 8> current_{};   // the last complete header
  std::array<std::uint8_t, 8> previous_{};  // the header before it
  int remain_ = 0;                          // body bytes still to come in this packet
  bool discard_ = false;
  // The message being received waits for its next packet: the packet before arrived
  // whole, for the PC, kept, with the more flag set.
  bool open_ = false;
  bool overflow_ = false;  // the joined bodies exceed the buffer: the message is dropped
  std::array<std::uint8_t, kMessageBufferSize> buffer_{};
  int contentPos_ = 0;
  DiscardCounters discards_;
};

}  // namespace orderlink
