#include <gtest/gtest.h>

#include <memory>

#include "link/DiscardReasons.h"
#include "link/FrameCodec.h"
#include "link/FrameParser.h"
#include "support/LogCapture.h"
#include "support/ManualTimers.h"
#include "support/RecordingFrameSink.h"

namespace orderlink {
namespace {

constexpr char kMinuteLine[] = "frames discarded in the last minute: ";

TEST(DiscardReport, LogsEachMinuteWithDropsOnceWithThatMinutesCountsAndShowsTheTotals) {
  VirtualClock clock;
  test::ManualTimers timers(clock);
  test::RecordingFrameSink sink;
  FrameParser parser(sink);
  std::vector<DiscardCounts> shown;
  test::LogCapture log;
  const std::string wrongAddress = LongPacket(0xC0, 0x05, 1, false, "DC  ",
                                              "\x07"
                                              "AB");
  const std::string outOfSequence = LongPacket(0xC0, 0xFF, 5, false, "DC  ", "CD");

  auto report = std::make_unique<DiscardReport>(
      timers, [&parser] { return parser.Discards().Read(); },
      [&shown](const DiscardCounts& totals) { shown.push_back(totals); });
  parser.Push(wrongAddress + wrongAddress + wrongAddress + outOfSequence);
  timers.RunFor(DiscardReport::kPeriodMs - 1);
  EXPECT_TRUE(log.Containing(kMinuteLine).empty()) << "not before the minute is up";
  timers.RunFor(1);
  timers.RunFor(DiscardReport::kPeriodMs);  // a quiet minute logs nothing
  parser.Push(wrongAddress);
  timers.RunFor(DiscardReport::kPeriodMs);

  const auto lines = log.Containing(kMinuteLine);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find(std::string(kMinuteLine) + "wrong address 3, continues no message 1"),
            std::string::npos)
      << lines[0];
  EXPECT_NE(lines[1].find(std::string(kMinuteLine) + "wrong address 1"), std::string::npos)
      << lines[1];
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(FormatDiscards(shown[2]), "wrong address 4, continues no message 1");

  // Gone, the report's pending minute does nothing.
  report.reset();
  parser.Push(wrongAddress);
  timers.RunAll();
  EXPECT_EQ(log.Containing(kMinuteLine).size(), 2u);
  EXPECT_EQ(shown.size(), 3u);
}

}  // namespace
}  // namespace orderlink
