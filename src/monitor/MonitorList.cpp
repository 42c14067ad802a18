#include "monitor/MonitorList.h"

#include <algorithm>

namespace orderlink {

void MonitorList::Add(std::string caption) {
  entries_.push_back({std::move(caption), kSwitchedOff});
}

bool MonitorList::MarkSwitchedOn(std::string_view caption) {
  const auto it = std::find_if(entries_.begin(), entries_.end(),
                               [caption](const Entry& e) { return e.caption == caption; });
  if (it == entries_.end()) return false;
  it->image = kSwitchedOn;
  return true;
}

void MonitorList::Choose(View view) { view_ = view; }

std::string MonitorList::DiscardLine(const DiscardCounts& totals) {
  const std::string reasons = FormatDiscards(totals);
  return reasons.empty() ? std::string() : "frames discarded since start: " + reasons;
}

const char* MonitorList::Status(const Entry& entry) {
  return entry.image == kSwitchedOn ? "开机" : "关机";
}

}  // namespace orderlink
