// A recorded session changed in one place no longer replays: orderlink-replay runs the
// program against a copy of a corpus session with one frame byte changed, one pause
// inside a job 100 ms short, or one frame of a reply missing, and must end with exit
// status 1 and a message naming the frame.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "app/SessionSidecar.h"
#include "common/TextFile.h"
#include "replay/Session.h"
#include "replay/TraceFile.h"
#include "support/Processes.h"

namespace orderlink::replay {
namespace {

namespace fs = std::filesystem;

// Small and with reply jobs of several lines: the pauses between them are 100 and 150 ms.
const fs::path kSession = fs::path(ORDERLINK_SOURCE_DIR) / "tests/sessions/short-messages-and-time";

struct Recording {
  std::vector<TracePacket> packets;
  std::vector<SidecarEvent> sidecar;
};

bool IsJobFrame(const TracePacket& packet) {
  if (packet.direction != TraceDirection::Outbound) return false;
  const auto frames = FramesOf(packet.bytes);
  return frames.size() == 1 && frames[0].kind == basesim::PcFrame::Kind::Long;
}

// Index of the first outbound frame that follows another frame of the program with
// nothing between them (a pause inside a job) of at least `minimumUs`, and is
// followed by one too when `inside`.
std::size_t FrameInsideJob(const Recording& recording, std::uint64_t minimumUs, bool inside) {
  const auto& p = recording.packets;
  for (std::size_t i = 1; i + 1 < p.size(); ++i) {
    if (!IsJobFrame(p[i - 1]) || !IsJobFrame(p[i])) continue;
    if (p[i].microseconds - p[i - 1].microseconds < minimumUs) continue;
    if (inside && !IsJobFrame(p[i + 1])) continue;
    const bool quiet = std::none_of(recording.sidecar.begin(), recording.sidecar.end(),
                                    [&](const SidecarEvent& event) {
                                      return event.microseconds > p[i - 1].microseconds &&
                                             event.microseconds < p[i + 1].microseconds;
                                    });
    if (quiet) return i;
  }
  return 0;
}

struct Tamper {
  const char* name;
  // Changes the recording; returns what the replay's message must begin with ("" when
  // the session has no frame to change).
  std::function<std::string(Recording&)> change;
  const char* alsoSays = "expected ";
};

class TamperedSessionTest : public testing::TestWithParam<Tamper> {};

TEST_P(TamperedSessionTest, ReplayFailsNamingTheFrame) {
  ASSERT_TRUE(fs::is_directory(kSession)) << kSession;
  Recording recording;
  std::string error;
  const auto traceBytes = ReadFileBytes(kSession / "trace.pcapng");
  ASSERT_TRUE(traceBytes);
  auto packets = ReadTracePackets(*traceBytes, &error);
  ASSERT_TRUE(packets) << error;
  recording.packets = std::move(*packets);
  const auto sidecarText = ReadFileBytes(kSession / "sidecar");
  ASSERT_TRUE(sidecarText);
  auto sidecar = ParseSidecar(*sidecarText, &error);
  ASSERT_TRUE(sidecar) << error;
  recording.sidecar = std::move(*sidecar);

  const std::string expectedWords = GetParam().change(recording);
  ASSERT_FALSE(expectedWords.empty()) << "the session has no frame to change";

  test::TempAppDir copy;
  const fs::path folder = copy.Path();
  fs::copy(kSession / "expected", folder / "expected", fs::copy_options::recursive);
  ASSERT_TRUE(WriteFileBytes(folder / "trace.pcapng", WriteTracePackets(recording.packets)));
  std::string sidecarOut(kSidecarHeader);
  sidecarOut += "\n";
  for (const auto& event : recording.sidecar) sidecarOut += FormatSidecarEvent(event);
  ASSERT_TRUE(WriteFileBytes(folder / "sidecar", sidecarOut));

  test::ChildProcess replay(
      {std::string(ORDERLINK_BIN_DIR) + "/orderlink-replay", "--speed", "2", folder.string()}, {});
  std::string output;
  while (auto line = replay.ReadLine(90000)) output += *line + "\n";
  EXPECT_EQ(replay.Wait(10000), 1) << output << replay.Stderr();
  EXPECT_NE(output.find("difference: " + expectedWords), std::string::npos)
      << "expected \"" << expectedWords << "\" in:\n"
      << output;
  EXPECT_NE(output.find(GetParam().alsoSays), std::string::npos) << output;
  // The replay keeps the program's folder after a difference; this one was expected.
  if (const auto kept = output.find("kept in "); kept != std::string::npos) {
    std::error_code ec;
    fs::remove_all(output.substr(kept + 8, output.find('\n', kept) - kept - 8), ec);
  }
}

std::string FrameNumber(const Recording& recording, std::size_t index) {
  return "frame " + std::to_string(recording.packets[index].number) + " ";
}

INSTANTIATE_TEST_SUITE_P(
    OneChange, TamperedSessionTest,
    testing::Values(Tamper{"OneByteOfAFrame",
                           [](Recording& r) -> std::string {
                             const std::size_t i = FrameInsideJob(r, 0, false);
                             if (i == 0) return "";
                             r.packets[i].bytes.back() ^= 0x01;
                             return FrameNumber(r, i);
                           }},
                    Tamper{"OnePause100MsShort",
                           [](Recording& r) -> std::string {
                             const std::size_t i = FrameInsideJob(r, 120000, false);
                             if (i == 0) return "";
                             const std::uint64_t from = r.packets[i].microseconds;
                             for (auto& packet : r.packets) {
                               if (packet.microseconds >= from) packet.microseconds -= 100000;
                             }
                             for (auto& event : r.sidecar) {
                               if (event.microseconds >= from) event.microseconds -= 100000;
                             }
                             return FrameNumber(r, i);
                           },
                           "the pause before it was "},
                    Tamper{"OneFrameMissing",
                           [](Recording& r) -> std::string {
                             const std::size_t i = FrameInsideJob(r, 0, true);
                             if (i == 0) return "";
                             r.packets.erase(r.packets.begin() + static_cast<std::ptrdiff_t>(i));
                             for (std::size_t k = i; k < r.packets.size(); ++k)
                               r.packets[k].number -= 1;
                             return FrameNumber(r, i);
                           }}),
    [](const testing::TestParamInfo<Tamper>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace orderlink::replay
