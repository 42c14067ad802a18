#include "replay/TraceFile.h"

namespace orderlink::replay {

namespace {

constexpr std::uint32_t kSectionHeaderType = 0x0A0D0D0A;
constexpr std::uint32_t kEnhancedPacketType = 0x00000006;
constexpr std::uint32_t kByteOrderMagic = 0x1A2B3C4D;
constexpr std::uint16_t kOptComment = 1;
constexpr std::uint16_t kEpbFlags = 2;

std::uint32_t Get32(std::string_view bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

std::uint16_t Get16(std::string_view bytes, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                    static_cast<unsigned char>(bytes[at + 1]) << 8);
}

// Direction and comment from the options after the packet data; inbound when no
// direction is given.
void ReadOptions(std::string_view options, TracePacket& packet) {
  std::size_t at = 0;
  while (at + 4 <= options.size()) {
    const std::uint16_t code = Get16(options, at);
    const std::uint16_t length = Get16(options, at + 2);
    if (code == 0 || at + 4 + length > options.size()) break;
    if (code == kEpbFlags && length == 4) {
      packet.direction =
          (Get32(options, at + 4) & 3) == 2 ? TraceDirection::Outbound : TraceDirection::Inbound;
    } else if (code == kOptComment) {
      packet.comment = std::string(options.substr(at + 4, length));
    }
    at += 4 + (length + 3u) / 4 * 4;
  }
}

}  // namespace

std::optional<std::vector<TracePacket>> ReadTracePackets(std::string_view file,
                                                         std::string* error) {
  if (file.size() < 12 || Get32(file, 0) != kSectionHeaderType ||
      Get32(file, 8) != kByteOrderMagic) {
    *error = "not a little-endian pcapng file (no section header at its start)";
    return std::nullopt;
  }
  std::vector<TracePacket> packets;
  std::size_t at = 0;
  while (at + 12 <= file.size()) {
    const std::uint32_t type = Get32(file, at);
    const std::uint32_t total = Get32(file, at + 4);
    if (total < 12 || total % 4 != 0) {
      *error = "block at byte " + std::to_string(at) + " has a bad length";
      return std::nullopt;
    }
    if (at + total > file.size()) break;  // cut short: the writer ended mid-block
    const std::string_view body = file.substr(at + 8, total - 12);
    if (type == kEnhancedPacketType) {
      if (body.size() < 20) {
        *error = "packet block at byte " + std::to_string(at) + " is too short";
        return std::nullopt;
      }
      const std::uint32_t captured = Get32(body, 12);
      if (20 + static_cast<std::size_t>(captured) > body.size()) {
        *error = "packet block at byte " + std::to_string(at) + " holds fewer bytes than it says";
        return std::nullopt;
      }
      TracePacket packet;
      packet.number = static_cast<int>(packets.size()) + 1;
      packet.microseconds = static_cast<std::uint64_t>(Get32(body, 4)) << 32 | Get32(body, 8);
      packet.bytes = std::string(body.substr(20, captured));
      ReadOptions(body.substr(20 + (captured + 3u) / 4 * 4), packet);
      packets.push_back(std::move(packet));
    }
    at += total;
  }
  return packets;
}

std::string WriteTracePackets(const std::vector<TracePacket>& packets) {
  std::string out = PcapngFileHeader("orderlink", "serial line");
  for (const auto& packet : packets)
    out += PcapngPacket(packet.microseconds, packet.direction, packet.bytes, packet.comment);
  return out;
}

}  // namespace orderlink::replay
