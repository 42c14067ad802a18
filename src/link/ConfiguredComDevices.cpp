#include "link/ConfiguredComDevices.h"

#include <utility>

namespace orderlink {

namespace {

ConfiguredComDevices& Devices() {
  static ConfiguredComDevices devices;
  return devices;
}

}  // namespace

void SetConfiguredComDevices(ConfiguredComDevices devices) { Devices() = std::move(devices); }

std::optional<ConfiguredDevice> ConfiguredComDevice(int n) {
  const auto it = Devices().find(n);
  if (it == Devices().end()) return std::nullopt;
  return it->second;
}

}  // namespace orderlink
