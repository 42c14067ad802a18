#pragma once
// A window list that start-up fills with the handsets of this base station
// (monitor list, the test tree and grid, the download tree). Window thread.

#include <string>

namespace orderlink {

class HandsetListView {
 public:
  virtual ~HandsetListView() = default;
  // `text` is the three-digit handset text as written in the handset file ("007").
  virtual void AddHandset(const std::string& text) = 0;
  // Called once after the last handset was added.
  virtual void HandsetsComplete() {}
};

}  // namespace orderlink
