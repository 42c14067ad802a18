#include "station/StationRecords.h"

namespace orderlink {

namespace {
char Byte(int value) { return static_cast<char>(value & 0xFF); }
int ChannelBits(int channel) { return (2 * channel) & 0x0E; }
}  // namespace

std::string DataStationRecord(int channel, int stationNumber) {
  return {Byte(0x03), Byte(0x50), Byte(0x80 + ChannelBits(channel)), Byte(0xC0 + stationNumber)};
}

std::string VoiceStationRecord(bool master, int channel, int slaveAddress,
                               const std::vector<std::uint8_t>& handsets) {
  const int n = static_cast<int>(handsets.size());
  std::string record = {Byte(n + 5),
                        Byte(0xA0),
                        Byte(0xB0 + ChannelBits(channel) + (master ? 0 : 1)),
                        Byte(master ? 0xFF : slaveAddress),
                        Byte(0xFF),
                        Byte(n)};
  for (const std::uint8_t handset : handsets) record += static_cast<char>(handset);
  return record;
}

}  // namespace orderlink
