#pragma once
// Byte layout of the frames on the line (see the frame table in FrameCodec.cpp).
// Pure functions: no port, clock or thread.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orderlink {

// Route byte of the frames the PC starts itself, of polls and download records.
constexpr std::uint8_t kDefaultRoute = 0xC0;

constexpr std::size_t kMessagePiece = 54;  // payload bytes in one ordinary packet
constexpr std::size_t kRecordPiece = 41;   // record bytes in one download record packet
// The sequence byte counts packets 1..255; a longer message would wrap it to 0 and 1,
// and the receiver would take the wrapped packets for a new message.
constexpr std::size_t kMaxPacketsPerMessage = 255;

// Handsets listen for this long between the packets of one message (ms).
constexpr std::int64_t kPacketPauseMs = 150;

// Time the line takes to carry `bytes` at 19200 baud, 8N1: ten bits, 0.52 ms a byte.
[[nodiscard]] constexpr std::chrono::microseconds LineTimeOfBytes(std::size_t bytes) {
  return std::chrono::microseconds(static_cast<std::int64_t>(bytes) * 10 * 1'000'000 / 19200);
}

// How long SendFrame holds the line for one message: the bytes of every packet
// EncodeMessage makes of `payload` and the pauses between the packets.
[[nodiscard]] std::chrono::microseconds MessageLineTime(std::string_view code,
                                                        std::string_view payload);

// 00 00 00 C0 01 nn
[[nodiscard]] std::string PollFrame(std::uint8_t handset);
// 00 00 00 01 nn
[[nodiscard]] std::string RollCallFrame(std::uint8_t handset);

// Cuts `payload` into pieces of at most `maxPiece` bytes, one byte less where the
// last byte would be the first half of a two-byte GBK character. An empty payload
// gives one empty piece when `emptyGivesOne`, else none. Linear in the payload.
[[nodiscard]] std::vector<std::string_view> CutPieces(std::string_view payload,
                                                      std::size_t maxPiece, bool emptyGivesOne);

// Packets EncodeMessage makes of `payload` (at least one).
[[nodiscard]] std::size_t MessagePacketCount(std::string_view payload);

// One long packet: 00 00 00 route 02 L address seq more code piece (L = piece + 7).
[[nodiscard]] std::string LongPacket(std::uint8_t route, std::uint8_t address,
                                     std::uint8_t sequence, bool more, std::string_view code,
                                     std::string_view piece);

// Every packet of a message, as SendFrame writes them (kCodeRollCall gives roll-call frames).
[[nodiscard]] std::vector<std::string> EncodeMessage(std::uint8_t route, std::string_view code,
                                                     std::uint8_t address,
                                                     std::string_view payload);

// One download record packet: 00 00 00 C0 02 L address seq more tag recno(5) count(4) pos(4) piece
// (L = piece + 20).
[[nodiscard]] std::string RecordPacket(std::uint8_t address, std::uint8_t sequence, bool more,
                                       std::string_view jobLine, std::string_view recordNumber,
                                       std::string_view piece);

// Every packet of a download record for a job line in wire form (bytes 1-4 line
// count, 5-8 position, 9-12 tag, record data from byte 13). `length` limits the
// record data (0 = all of it). None for empty data.
[[nodiscard]] std::vector<std::string> EncodeRecord(std::uint8_t address,
                                                    std::string_view recordNumber,
                                                    std::string_view jobLine,
                                                    std::size_t length = 0);

}  // namespace orderlink
