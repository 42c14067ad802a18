#pragma once
// Devices of the COM ports named in the settings file, for the serial link's port
// lookup. Set at start-up before any port opens; read-only afterwards, any thread.

#include <optional>
#include <string>

namespace orderlink {

// The device the settings file gives COM port `n`, if any.
[[nodiscard]] std::optional<std::string> ConfiguredComDevice(int n);

}  // namespace orderlink
