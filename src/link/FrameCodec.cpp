#include "link/FrameCodec.h"

#include "common/Gbk.h"
#include "link/Protocol.h"

// Frames on the line (every frame starts with three zero bytes, which restart the
// receiver wherever they occur):
//   poll       00 00 00 C0 01 handset
//   roll call  00 00 00 01 handset
//   long       00 00 00 route 02 L address sequence more code[4] body      L = 7 + body
//   record     00 00 00 C0 02 L address sequence more tag[4] recno[5] count[4] pos[4] piece
//                                                                          L = 20 + piece
// A message longer than one packet is cut while more than a full piece remains;
// a piece never ends with the first half of a two-byte GBK character.

namespace orderlink {

namespace {
constexpr char kPreamble[3] = {0, 0, 0};
}

std::string PollFrame(std::uint8_t handset) {
  return std::string(kPreamble, 3) + static_cast<char>(0xC0) + '\x01' + static_cast<char>(handset);
}

std::string RollCallFrame(std::uint8_t handset) {
  return std::string(kPreamble, 3) + '\x01' + static_cast<char>(handset);
}

std::vector<std::string_view> CutPieces(std::string_view payload, std::size_t maxPiece,
                                        bool emptyGivesOne) {
  std::vector<std::string_view> pieces;
  if (payload.empty()) {
    if (emptyGivesOne) pieces.emplace_back();
    return pieces;
  }
  // Boundaries are counted from the start of the payload, not of the piece; the
  // scan carries them forward, so a long payload is cut in one pass.
  GbkBoundaryScan boundaries(payload);
  std::size_t pos = 0;
  while (pos + maxPiece < payload.size()) {
    std::size_t length = maxPiece;
    if (boundaries.IsFirstOfDoubleByte(pos + maxPiece - 1)) --length;
    pieces.push_back(payload.substr(pos, length));
    pos += length;
  }
  pieces.push_back(payload.substr(pos));
  return pieces;
}

std::size_t MessagePacketCount(std::string_view payload) {
  return CutPieces(payload, kMessagePiece, true).size();
}

std::chrono::microseconds MessageLineTime(std::string_view code, std::string_view payload) {
  // Route and address do not change a frame's size.
  const auto packets = EncodeMessage(kDefaultRoute, code, 0, payload);
  std::size_t bytes = 0;
  for (const std::string& packet : packets) bytes += packet.size();
  const auto pauses = static_cast<std::int64_t>(packets.size() - 1) * kPacketPauseMs;
  return LineTimeOfBytes(bytes) + std::chrono::milliseconds(pauses);
}

std::string LongPacket(std::uint8_t route, std::uint8_t address, std::uint8_t sequence, bool more,
                       std::string_view code, std::string_view piece) {
  std::string frame;
  frame.reserve(13 + piece.size());
  frame.append(kPreamble, 3);
  frame += static_cast<char>(route);
  frame += '\x02';
  frame += static_cast<char>(piece.size() + 7);
  frame += static_cast<char>(address);
  frame += static_cast<char>(sequence);
  frame += static_cast<char>(more ? 1 : 0);
  frame += code.substr(0, 4);
  frame += piece;
  return frame;
}

std::vector<std::string> EncodeMessage(std::uint8_t route, std::string_view code,
                                       std::uint8_t address, std::string_view payload) {
  std::vector<std::string> packets;
  const auto pieces = CutPieces(payload, kMessagePiece, true);
  packets.reserve(pieces.size());
  const bool rollCall = code == kCodeRollCall;
  std::uint8_t sequence = 1;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const bool more = i + 1 < pieces.size();
    packets.push_back(rollCall ? RollCallFrame(address)
                               : LongPacket(route, address, sequence, more, code, pieces[i]));
    ++sequence;  // wraps after 255
  }
  return packets;
}

std::string RecordPacket(std::uint8_t address, std::uint8_t sequence, bool more,
                         std::string_view jobLine, std::string_view recordNumber,
                         std::string_view piece) {
  const std::string head = PadRight(jobLine.substr(0, 12), 12);
  std::string frame(kPreamble, 3);
  frame += static_cast<char>(0xC0);
  frame += '\x02';
  frame += static_cast<char>(piece.size() + 20);
  frame += static_cast<char>(address);
  frame += static_cast<char>(sequence);
  frame += static_cast<char>(more ? 1 : 0);
  frame += head.substr(8, 4);  // table tag
  frame += recordNumber.substr(0, 5);
  frame += head.substr(0, 4);  // line count of the table
  frame += head.substr(4, 4);  // position in the table
  frame += piece;
  return frame;
}

std::vector<std::string> EncodeRecord(std::uint8_t address, std::string_view recordNumber,
                                      std::string_view jobLine, std::size_t length) {
  std::vector<std::string> packets;
  std::string_view data = jobLine.size() > 12 ? jobLine.substr(12) : std::string_view();
  if (length != 0) data = data.substr(0, length);
  const auto pieces = CutPieces(data, kRecordPiece, false);
  std::uint8_t sequence = 1;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    packets.push_back(
        RecordPacket(address, sequence, i + 1 < pieces.size(), jobLine, recordNumber, pieces[i]));
    ++sequence;
  }
  return packets;
}

}  // namespace orderlink
