// Cutting a 2 MB reply line (Chinese text with ASCII between) into the packets the
// send thread writes. The send thread holds its lock while it cuts, so this time is
// time the poller and shutdown wait.
#include <benchmark/benchmark.h>

#include <string>

#include "link/FrameCodec.h"

namespace orderlink {
namespace {

std::string LongReplyLine() {
  const std::string piece = "\xC3\xD7\xB7\xB9 x2 \xC7\xE5\xB3\xB4\xB0\xD7\xB2\xCB 18.00; ";
  std::string line;
  while (line.size() < 2 * 1024 * 1024) line += piece;
  return line;
}

void BM_CutLongText(benchmark::State& state) {
  const std::string line = LongReplyLine();
  for (auto _ : state) {
    const auto packets = EncodeMessage(0xC0, "KT  ", 12, line);
    benchmark::DoNotOptimize(packets.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(line.size()));
}
BENCHMARK(BM_CutLongText)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace orderlink
