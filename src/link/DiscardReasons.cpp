#include "link/DiscardReasons.h"

#include "common/Log.h"

namespace orderlink {

std::string_view DiscardReasonText(DiscardReason reason) {
  switch (reason) {
    case DiscardReason::CutOffByPreamble:
      return "cut off by a preamble";
    case DiscardReason::WrongAddress:
      return "wrong address";
    case DiscardReason::CrcNotice:
      return "CRC notice";
    case DiscardReason::ContinuesNoMessage:
      return "continues no message";
    case DiscardReason::RestOfDroppedMessage:
      return "rest of a dropped message";
    case DiscardReason::OutOfSequence:
      return "out of sequence";
    case DiscardReason::CommandChanged:
      return "command changed mid-message";
    case DiscardReason::LeftOpen:
      return "left open by a new message";
    case DiscardReason::OverLong:
      return "over-long";
    case DiscardReason::HeaderOnly:
      return "header only";
    case DiscardReason::UnknownCode:
      return "unknown code";
  }
  return "?";
}

std::string FormatDiscards(const DiscardCounts& counts) {
  std::string text;
  for (std::size_t i = 0; i < counts.size(); ++i) {
    if (counts[i] == 0) continue;
    if (!text.empty()) text += ", ";
    text += std::string(DiscardReasonText(static_cast<DiscardReason>(i))) + ' ' +
            std::to_string(counts[i]);
  }
  return text;
}

DiscardCounts DiscardCounters::Read() const {
  DiscardCounts counts{};
  for (std::size_t i = 0; i < counts.size(); ++i) {
    counts[i] = counts_[i].load(std::memory_order_relaxed);
  }
  return counts;
}

DiscardReport::DiscardReport(WindowTimers& timers, std::function<DiscardCounts()> read,
                             std::function<void(const DiscardCounts&)> showTotals)
    : timers_(timers), read_(std::move(read)), showTotals_(std::move(showTotals)) {
  Schedule();
}

void DiscardReport::Schedule() {
  timers_.After(kPeriodMs, [self = std::weak_ptr<DiscardReport*>(self_)] {
    if (const auto report = self.lock()) (*report)->Tick();
  });
}

void DiscardReport::Tick() {
  const DiscardCounts totals = read_();
  DiscardCounts minute{};
  for (std::size_t i = 0; i < totals.size(); ++i) minute[i] = totals[i] - reported_[i];
  reported_ = totals;
  if (const std::string text = FormatDiscards(minute); !text.empty()) {
    LogInfo("frames discarded in the last minute: " + text);
  }
  if (showTotals_) showTotals_(totals);
  Schedule();
}

}  // namespace orderlink
