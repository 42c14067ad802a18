#pragma once
// Qt's own diagnostics (qWarning and the like from Qt and its plugins) go through
// Log, stamped like every other line; known noise of platform plugins is dropped.

#include <string_view>

namespace orderlink {

// Installs the handler and the logging rules. Call once, before QApplication.
void InstallQtLogHandler();

// True for Qt's lines that say nothing to a user or maintainer (a platform plugin
// that cannot raise or size a window).
[[nodiscard]] bool IsQtNoise(std::string_view text);

}  // namespace orderlink
