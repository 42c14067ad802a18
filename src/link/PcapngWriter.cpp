#include "link/PcapngWriter.h"

namespace orderlink {

namespace {

constexpr std::uint32_t kSectionHeaderType = 0x0A0D0D0A;
constexpr std::uint32_t kInterfaceDescriptionType = 0x00000001;
constexpr std::uint32_t kEnhancedPacketType = 0x00000006;
constexpr std::uint32_t kByteOrderMagic = 0x1A2B3C4D;

constexpr std::uint16_t kOptEndOfOpt = 0;
constexpr std::uint16_t kOptComment = 1;
constexpr std::uint16_t kShbUserAppl = 4;
constexpr std::uint16_t kIfName = 2;
constexpr std::uint16_t kIfTsresol = 9;
constexpr std::uint16_t kEpbFlags = 2;
constexpr char kMicroseconds = 6;  // if_tsresol: 10^-6 s

void Put16(std::string& out, std::uint16_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>(v >> 8);
}

void Put32(std::string& out, std::uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>((v >> shift) & 0xFF);
}

// Pads to the 32-bit boundary every block body and option value keeps.
void Pad(std::string& out) { out.append((4 - out.size() % 4) % 4, '\0'); }

void PutOption(std::string& out, std::uint16_t code, std::string_view value) {
  Put16(out, code);
  Put16(out, static_cast<std::uint16_t>(value.size()));
  out.append(value);
  Pad(out);
}

void EndOptions(std::string& out) {
  Put16(out, kOptEndOfOpt);
  Put16(out, 0);
}

// Type, total length, body, total length again.
std::string Block(std::uint32_t type, const std::string& body) {
  const auto total = static_cast<std::uint32_t>(12 + body.size());
  std::string out;
  out.reserve(total);
  Put32(out, type);
  Put32(out, total);
  out += body;
  Put32(out, total);
  return out;
}

}  // namespace

std::string PcapngFileHeader(std::string_view application, std::string_view interfaceName) {
  std::string section;
  Put32(section, kByteOrderMagic);
  Put16(section, 1);  // version 1.0
  Put16(section, 0);
  Put32(section, 0xFFFFFFFF);  // section length unknown (-1 as 64 bits)
  Put32(section, 0xFFFFFFFF);
  PutOption(section, kShbUserAppl, application);
  EndOptions(section);

  std::string interface;
  Put16(interface, kPcapngLinkTypeUser0);
  Put16(interface, 0);  // reserved
  Put32(interface, 0);  // no snap length: every byte is kept
  PutOption(interface, kIfName, interfaceName);
  PutOption(interface, kIfTsresol, std::string_view(&kMicroseconds, 1));
  EndOptions(interface);

  return Block(kSectionHeaderType, section) + Block(kInterfaceDescriptionType, interface);
}

std::string PcapngPacket(std::uint64_t microsecondsSinceEpoch, TraceDirection direction,
                         std::string_view bytes, std::string_view comment) {
  std::string body;
  body.reserve(bytes.size() + 40);
  Put32(body, 0);  // interface 0
  Put32(body, static_cast<std::uint32_t>(microsecondsSinceEpoch >> 32));
  Put32(body, static_cast<std::uint32_t>(microsecondsSinceEpoch & 0xFFFFFFFF));
  Put32(body, static_cast<std::uint32_t>(bytes.size()));  // captured
  Put32(body, static_cast<std::uint32_t>(bytes.size()));  // on the line
  body.append(bytes);
  Pad(body);
  std::string flags;
  Put32(flags, static_cast<std::uint32_t>(direction));
  PutOption(body, kEpbFlags, flags);
  if (!comment.empty()) PutOption(body, kOptComment, comment);
  EndOptions(body);
  return Block(kEnhancedPacketType, body);
}

}  // namespace orderlink
