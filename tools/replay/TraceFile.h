#pragma once
// Reading a frame trace as orderlink --trace writes it (link/PcapngWriter.h): the
// Enhanced Packet Blocks of a little-endian pcapng file with microsecond stamps, the
// direction in epb_flags and a note (a discarded frame) as the comment of a packet
// without bytes. Other blocks are skipped; a file cut short ends with
// the last whole block (a trace whose writer was killed), which is not an error.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/PcapngWriter.h"

namespace orderlink::replay {

struct TracePacket {
  int number = 0;  // 1, 2, ... in file order, as Wireshark counts them
  std::uint64_t microseconds = 0;
  TraceDirection direction = TraceDirection::Inbound;
  std::string bytes;
  std::string comment;  // opt_comment; "" when the packet has none
};

// nullopt and the reason when `file` is not such a pcapng file.
[[nodiscard]] std::optional<std::vector<TracePacket>> ReadTracePackets(std::string_view file,
                                                                       std::string* error);

// The file again from packets (the header orderlink writes, then each packet).
[[nodiscard]] std::string WriteTracePackets(const std::vector<TracePacket>& packets);

}  // namespace orderlink::replay
