#include "linktest/HandsetTree.h"

#include "common/WholeNumber.h"

namespace orderlink {

HandsetTree::HandsetTree() { nodes_.push_back({"无线点菜机", kNoPicture}); }

void HandsetTree::AddHandset(const std::string& text) { nodes_.push_back({text, kUnticked}); }

void HandsetTree::Select(int index) {
  if (index <= 0 || index >= NodeCount()) return;
  for (int i = 1; i < NodeCount(); ++i) nodes_[i].state = kUnticked;
  nodes_[index].state = kTicked;
  nodes_[0].state = kNoPicture;
}

std::optional<int> HandsetTree::FirstTicked() const {
  for (int i = 1; i < NodeCount(); ++i) {
    if (nodes_[i].state == kTicked) return i;
  }
  return std::nullopt;
}

int HandsetTree::Number(int index) const { return ParseWholeNumber(Text(index)).value_or(0); }

std::vector<std::uint8_t> HandsetTree::HandsetBytes() const {
  std::vector<std::uint8_t> bytes;
  for (int i = 1; i < NodeCount(); ++i)
    bytes.push_back(static_cast<std::uint8_t>(Number(i) & 0xFF));
  return bytes;
}

}  // namespace orderlink
