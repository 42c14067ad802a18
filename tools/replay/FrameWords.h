#pragma once
// A frame the PC wrote, in words, decoded as the trace dissector
// (tools/wireshark/orderlink.lua) shows it: kind, route, type, address, sequence,
// more flag, command code, and the body as text (GBK shown as UTF-8), as a download
// record (table, record number, line count, position, data) or, for bytes that are
// no frame, in hex.

#include <string>

#include "basesim/PcFrameParser.h"

namespace orderlink::replay {

[[nodiscard]] std::string FrameInWords(const basesim::PcFrame& frame);
// Up to 48 bytes in hex, "..." after them when there are more.
[[nodiscard]] std::string HexBytes(std::string_view bytes);

}  // namespace orderlink::replay
