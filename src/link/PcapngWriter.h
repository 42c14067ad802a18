#pragma once
// pcapng blocks for the frame trace, little-endian: one section with one interface
// (link type USER0, time stamps in microseconds) and one Enhanced Packet Block per
// frame sent or chunk received, its direction in the epb_flags option. A note on the
// line (a discarded frame) is a packet without bytes and with an opt_comment. Plain
// functions that build bytes; FrameTrace writes them to the file.

#include <cstdint>
#include <string>
#include <string_view>

namespace orderlink {

// Values of the direction bits (0-1) of epb_flags.
enum class TraceDirection : std::uint32_t { Inbound = 1, Outbound = 2 };

// pcapng link type of the trace's interface: USER0, left to private protocols.
inline constexpr std::uint16_t kPcapngLinkTypeUser0 = 147;

// Section Header Block (shb_userappl = `application`), then the Interface
// Description Block of the serial line (if_name = `interfaceName`, if_tsresol 6).
[[nodiscard]] std::string PcapngFileHeader(std::string_view application,
                                           std::string_view interfaceName);

// Enhanced Packet Block on interface 0 holding `bytes` whole, with `comment` as its
// opt_comment when not empty.
[[nodiscard]] std::string PcapngPacket(std::uint64_t microsecondsSinceEpoch,
                                       TraceDirection direction, std::string_view bytes,
                                       std::string_view comment = {});

}  // namespace orderlink
