// Parser throughput over a realistic mix of frames: polls echoed by the base
// station, one- and two-packet requests, header-only time queries, download
// answers and a little garbage.
#include <benchmark/benchmark.h>

#include <memory>

#include "link/FrameCodec.h"
#include "link/FrameParser.h"

namespace orderlink {
namespace {

class CountingSink final : public FrameSink {
 public:
  void OnMessage(const Message&) override { ++messages; }
  long messages = 0;
};

std::string TrafficMix() {
  std::string mix;
  const std::string order = std::string("\x07") + "0010020003" + std::string(70, 'd');
  for (int i = 0; i < 100; ++i) {
    mix += PollFrame(static_cast<std::uint8_t>(i % 8 + 1));
    for (const auto& p : EncodeMessage(0xC0, "DC  ", 0xFF, order)) mix += p;
    mix += LongPacket(0xC1, 0xFF, 1, false, "SJCX", "");
    mix += LongPacket(0xC0, 0xFF, 1, false, "XZWC", "\x03");
    mix += LongPacket(0xC0, 0x05, 1, false, "DX  ", std::string(40, 'x'));
    mix += "\x55\xAA\x13";
  }
  return mix;
}

void BM_FrameParser(benchmark::State& state) {
  CountingSink sink;
  auto parser = std::make_unique<FrameParser>(sink);
  const std::string mix = TrafficMix();
  for (auto _ : state) parser->Push(mix);
  benchmark::DoNotOptimize(sink.messages);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(mix.size()));
}
BENCHMARK(BM_FrameParser);

}  // namespace
}  // namespace orderlink
