// Parser throughput over a realistic mix of frames: polls echoed by the base
// station, one- and two-packet requests, header-only time queries, download
// answers and a little garbage.
#include <benchmark/benchmark.h>

#include "common/Clock.h"
#include "link/FrameCodec.h"
#include "link/TRcvThread.h"

namespace orderlink {
namespace {

class NullHandlers final : public RcvHandlers {
 public:
  void OnTestAnswer(TRcvThread&) override { ++messages; }
  void OnDownloadResult(TRcvThread&) override { ++messages; }
  void OnResendRequest(TRcvThread&) override { ++messages; }
  void OnTimeQuery(TRcvThread&) override { ++messages; }
  void OnRequest(TRcvThread&) override { ++messages; }
  void OnDiscardedPacket() override {}
  void ShowParserState(const char*) override {}
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

void BM_ParseByte(benchmark::State& state) {
  VirtualClock clock;
  NullHandlers handlers;
  auto thread = std::make_unique<TRcvThread>(nullptr, handlers, clock);
  const std::string mix = TrafficMix();
  for (auto _ : state) {
    for (char c : mix) thread->ParseByte(static_cast<std::uint8_t>(c));
  }
  benchmark::DoNotOptimize(handlers.messages);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(mix.size()));
}
BENCHMARK(BM_ParseByte);

}  // namespace
}  // namespace orderlink
