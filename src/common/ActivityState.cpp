#include "common/ActivityState.h"

namespace orderlink {

std::atomic<bool> DownloadRunning{false};
std::atomic<bool> LinkTestRunning{false};
std::atomic<bool> StationTransfer{false};

}  // namespace orderlink
