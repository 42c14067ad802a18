// The two configuration files from any bytes: either a usable configuration or an
// error, never both; the port is 1..9, and the handsets taken are exactly the lines
// of the station, each a three-digit number 0..255, at most 256 of them.

#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "app/ConfigFiles.h"
#include "common/TextFile.h"

namespace orderlink {
namespace {

void CheckBaseStation(const std::vector<std::string>& lines) {
  const BaseStationResult result = ParseBaseStationFile(lines);
  fuzz::Require(result.config.has_value() == result.error.empty(), "a configuration or an error");
  if (!result.config) return;
  const BaseStationConfig& config = *result.config;
  fuzz::Require(config.portNumber >= 1 && config.portNumber <= 9, "port 1..9");
  fuzz::Require(config.portName.size() == 4, "the port name is characters 3-6");
}

void CheckHandsets(const std::vector<std::string>& lines, char station) {
  const HandsetResult result = ParseHandsetFile(lines, station);
  if (!result.Ok()) {
    fuzz::Require(result.handsets.empty(), "a refused file gives no handsets");
    return;
  }
  std::size_t stationLines = 0;
  for (const auto& line : lines) stationLines += line.size() >= 5 && line[4] == station ? 1 : 0;
  fuzz::Require(result.handsets.size() == stationLines, "every line of the station is taken");
  fuzz::Require(result.handsets.size() <= kMaxStationHandsets, "at most 256 handsets");
  for (const auto& handset : result.handsets) {
    fuzz::Require(handset.text.size() == 3 && std::stoi(handset.text) == handset.number &&
                      handset.number >= 0 && handset.number <= 255,
                  "a handset is a three-digit number 0..255");
  }
}

}  // namespace
}  // namespace orderlink

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orderlink;
  if (size == 0) return 0;
  // Byte 0 is the station the handset file is read for; the rest is the file.
  const std::string_view content(reinterpret_cast<const char*>(data) + 1, size - 1);
  const auto lines = SplitLines(content);
  CheckBaseStation(lines);
  CheckHandsets(lines, static_cast<char>(data[0]));
  return 0;
}
