#pragma once
// The raw byte dialogue with a base station in configuration mode. None of these
// byte strings is framed: no preamble, route byte or header.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orderlink {

// PC -> base station: asks to configure.
inline constexpr std::string_view kConfigRequest{"\xFF\x23\xDC\x55\xAA", 5};
// Base station -> PC: its DIP switches allow configuration (compared by the
// receive thread while the line's stationTransfer is set).
inline constexpr std::string_view kConfigAck{"\xFF\xAA\x55\x32\xCD", 5};

// Most handsets a voice station serves.
inline constexpr int kMaxVoiceHandsets = 60;

// 03 50 (80 + channel in bits 1-3) (C0 + station number 1..15).
[[nodiscard]] std::string DataStationRecord(int channel, int stationNumber);

// (n+5) A0 (B0 + channel in bits 1-3, bit 0 for a slave) (FF, or the slave
// address's low byte) FF n handset... for 1 <= n <= 60 handsets.
[[nodiscard]] std::string VoiceStationRecord(bool master, int channel, int slaveAddress,
                                             const std::vector<std::uint8_t>& handsets);

}  // namespace orderlink
