#pragma once
// Devices of the COM ports named in the settings file, for the serial link's port
// lookup (LookUpComDevice). The composition hands them over at start-up before any
// port opens; read-only afterwards, any thread.

#include <map>
#include <optional>
#include <string>

namespace orderlink {

struct ConfiguredDevice {
  std::string device;
  std::string file;  // the settings file
  int line = 0;      // the line of COM<n>= in it
};

using ConfiguredComDevices = std::map<int, ConfiguredDevice>;  // by COM port number

void SetConfiguredComDevices(ConfiguredComDevices devices);

// The device the settings file gives COM port `n`, if any.
[[nodiscard]] std::optional<ConfiguredDevice> ConfiguredComDevice(int n);

}  // namespace orderlink
