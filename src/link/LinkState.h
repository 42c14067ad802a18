#pragma once
// Flags of the serial link shared between threads without locks.

#include <atomic>
#include <cstdint>

#include "link/FrameCodec.h"

namespace orderlink {

// Route byte of the last frame received; frames answering a handset carry it.
extern std::atomic<std::uint8_t> RouteByte;
// 1 once the base station's answer signature FF AA 55 32 CD was seen in a chunk.
extern std::atomic<std::uint8_t> StationAck;

}  // namespace orderlink
