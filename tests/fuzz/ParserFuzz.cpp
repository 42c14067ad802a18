// The receive parser fed through the input ring. The same bytes stored as one
// chunk, as chunks cut at offsets taken from the input, and as one chunk per byte
// must give the same messages, discards, last state text and route byte: how
// the serial control happens to deliver the bytes must not change what is parsed.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "common/Clock.h"
#include "link/ReceiveThread.h"
#include "support/RecordingFrameSink.h"

namespace orderlink {
namespace {

struct ParseOutcome {
  std::vector<std::string> events;
  int discarded = 0;
  int route = 0;
  bool operator==(const ParseOutcome&) const = default;
};

// Stores the chunks as the window thread would, letting the receive side take them
// whenever the ring is full and once at the end (so the ring also wraps around).
ParseOutcome ParseChunks(const std::vector<std::string_view>& chunks) {
  VirtualClock clock;
  test::RecordingFrameSink sink;
  LineActivity line;
  auto thread = std::make_unique<ReceiveThread>(nullptr, sink, line, clock);
  int waiting = 0;
  for (std::string_view chunk : chunks) {
    if (chunk.empty()) continue;
    thread->StoreChunk(chunk);
    if (++waiting == ReceiveThread::kRingSlots) {
      fuzz::Require(thread->HandleChunks() == waiting, "a full ring is handled whole");
      waiting = 0;
    }
  }
  fuzz::Require(thread->HandleChunks() == waiting, "every stored chunk is handled");
  return {std::move(sink.events), sink.discarded, sink.lastRoute};
}

}  // namespace
}  // namespace orderlink

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orderlink;
  FuzzedDataProvider provider(data, size);
  // Cut offsets come from the end of the input, so the frames at its start stay whole.
  const int cutCount = provider.ConsumeIntegralInRange<int>(0, 32);
  std::vector<std::uint16_t> cutSeeds;
  for (int i = 0; i < cutCount; ++i) cutSeeds.push_back(provider.ConsumeIntegral<std::uint16_t>());
  const std::string stream = provider.ConsumeRemainingBytesAsString();
  const std::string_view bytes(stream);

  std::vector<std::size_t> cuts{0, bytes.size()};
  for (std::uint16_t seed : cutSeeds) cuts.push_back(seed % (bytes.size() + 1));
  std::sort(cuts.begin(), cuts.end());
  std::vector<std::string_view> pieces;
  for (std::size_t i = 1; i < cuts.size(); ++i)
    pieces.push_back(bytes.substr(cuts[i - 1], cuts[i] - cuts[i - 1]));

  std::vector<std::string_view> singleBytes;
  for (std::size_t i = 0; i < bytes.size(); ++i) singleBytes.push_back(bytes.substr(i, 1));

  const ParseOutcome whole = ParseChunks({bytes});
  fuzz::Require(ParseChunks(pieces) == whole, "chunks cut anywhere parse as the whole stream");
  fuzz::Require(ParseChunks(singleBytes) == whole, "one chunk per byte parses as the whole stream");
  return 0;
}
