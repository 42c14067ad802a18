#include "common/ActivityState.h"

namespace orderlink {

std::atomic<bool> DownloadRunning{false};
std::atomic<bool> DownloadRequested{false};
std::atomic<bool> LinkTestRunning{false};
std::atomic<bool> StationTransfer{false};
std::atomic<bool> StationBusy{false};

}  // namespace orderlink
