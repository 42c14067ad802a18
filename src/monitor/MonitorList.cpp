#include "monitor/MonitorList.h"

#include <algorithm>

namespace orderlink {

void MonitorList::Add(std::string caption) {
  entries_.push_back({std::move(caption), kSwitchedOff, {}});
}

bool MonitorList::MarkSwitchedOn(std::string_view caption) {
  const auto it = std::find_if(entries_.begin(), entries_.end(),
                               [caption](const Entry& e) { return e.caption == caption; });
  if (it == entries_.end()) return false;
  it->subItems.emplace_back("开机");
  it->image = kSwitchedOn;
  return true;
}

void MonitorList::Choose(View view) {
  view_ = view;
  if (view != View::Details) return;
  for (Entry& entry : entries_) entry.subItems.emplace_back("关机");
}

const std::string& MonitorList::Status(const Entry& entry) {
  static const std::string kEmpty;
  return entry.subItems.empty() ? kEmpty : entry.subItems.front();
}

}  // namespace orderlink
