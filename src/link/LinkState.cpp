#include "link/LinkState.h"

namespace orderlink {

std::atomic<std::uint8_t> RouteByte{kDefaultRoute};
std::atomic<std::uint8_t> StationAck{0};

}  // namespace orderlink
