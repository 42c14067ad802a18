#pragma once
// The handset monitor: one entry per handset of this base station, showing whether it
// has switched on (logged in) since the program started. Nothing switches an entry
// back off. Window thread only.

#include <string>
#include <string_view>
#include <vector>

#include "link/DiscardReasons.h"

namespace orderlink {

class MonitorList {
 public:
  static constexpr int kSwitchedOn = 0;  // picture index
  static constexpr int kSwitchedOff = 1;

  enum class View { LargeIcons, SmallIcons, Details };

  struct Entry {
    std::string caption;  // handset text, "007"
    int image = kSwitchedOff;
  };

  void Add(std::string caption);
  // Shows the first entry with this caption switched on. False when no entry has
  // the caption (nothing changes).
  bool MarkSwitchedOn(std::string_view caption);
  void Choose(View view);

  [[nodiscard]] View CurrentView() const { return view_; }
  [[nodiscard]] const std::vector<Entry>& Entries() const { return entries_; }
  // The text of the status column: the entry's present state, "开机" or "关机",
  // the same in every view whenever the handset logged in.
  [[nodiscard]] static const char* Status(const Entry& entry);
  // The line under the list: the frames the line's parser dropped since start, by
  // reason; "" (no line) while it dropped none.
  [[nodiscard]] static std::string DiscardLine(const DiscardCounts& totals);

 private:
  std::vector<Entry> entries_;
  View view_ = View::LargeIcons;
};

}  // namespace orderlink
