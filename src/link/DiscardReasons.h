#pragma once
// Why the frame parser dropped bytes: a closed list, one reason for each place where
// the parser drops something, with counters that any thread may read, and the
// report that logs them once a minute.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "common/WindowTimers.h"

namespace orderlink {

enum class DiscardReason : std::uint8_t {
  CutOffByPreamble,      // three zero bytes arrived inside a header or body (junk before a
                         // preamble, or a frame the line cut short)
  WrongAddress,          // a packet not addressed to the PC
  CrcNotice,             // the radio side's failure notice ("CRC..." command)
  ContinuesNoMessage,    // a packet after sequence 1 while no message waits for one
  RestOfDroppedMessage,  // the next packet of a message already being dropped
  OutOfSequence,         // the open message's next packet skipped a sequence number
  CommandChanged,        // the open message's next packet carries another command
  LeftOpen,              // a new sequence 1 arrived while a message waited for its next packet
  OverLong,              // the joined bodies exceed the message buffer (counted once)
  HeaderOnly,            // a frame without body that is not a time query
  UnknownCode,           // a message whose command no one serves (the dispatch drops it)
};
inline constexpr std::size_t kDiscardReasonCount = 11;

// "wrong address", as the log and the monitor show it.
[[nodiscard]] std::string_view DiscardReasonText(DiscardReason reason);

using DiscardCounts = std::array<std::uint64_t, kDiscardReasonCount>;

// "wrong address 3, out of sequence 1": the reasons with a non-zero count, in list
// order; "" when every count is zero.
[[nodiscard]] std::string FormatDiscards(const DiscardCounts& counts);

// Discards per reason since creation. Count on one thread (the parser's), Read on any.
class DiscardCounters {
 public:
  void Count(DiscardReason reason) {
    counts_[static_cast<std::size_t>(reason)].fetch_add(1, std::memory_order_relaxed);
  }
  [[nodiscard]] DiscardCounts Read() const;

 private:
  std::array<std::atomic<std::uint64_t>, kDiscardReasonCount> counts_{};
};

// Every minute on the window thread: logs "frames discarded in the last minute: ..."
// when any frame was, and hands the totals to `showTotals`. `read` gives the totals
// since start (zeros when there is no line).
class DiscardReport {
 public:
  static constexpr std::int64_t kPeriodMs = 60000;

  DiscardReport(WindowTimers& timers, std::function<DiscardCounts()> read,
                std::function<void(const DiscardCounts&)> showTotals);
  DiscardReport(const DiscardReport&) = delete;
  DiscardReport& operator=(const DiscardReport&) = delete;

 private:
  void Schedule();
  void Tick();

  WindowTimers& timers_;
  std::function<DiscardCounts()> read_;
  std::function<void(const DiscardCounts&)> showTotals_;
  DiscardCounts reported_{};
  // The pending timer call checks this: the report may be gone by then.
  std::shared_ptr<DiscardReport*> self_ = std::make_shared<DiscardReport*>(this);
};

}  // namespace orderlink
