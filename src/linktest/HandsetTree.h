#pragma once
// The handset tree of the test tab as plain state: node 0 is the root
// "无线点菜机", nodes 1..n are the handsets in the order of the handset file. Each
// node carries a state index: -1 no picture (the root), 1 not ticked, 2 ticked.
// At most one handset is ticked: it is the handset under test, and its node index
// is its row in the statistics grid. Window thread only.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orderlink {

class HandsetTree {
 public:
  static constexpr int kNoPicture = -1;
  static constexpr int kUnticked = 1;
  static constexpr int kTicked = 2;

  HandsetTree();

  // Appends a handset node (state 1) with its three-digit text.
  void AddHandset(const std::string& text);
  // The node `index` became the selected one: it alone is ticked. Selecting the
  // root changes nothing.
  void Select(int index);

  // Nodes including the root.
  [[nodiscard]] int NodeCount() const { return static_cast<int>(nodes_.size()); }
  [[nodiscard]] int HandsetCount() const { return NodeCount() - 1; }
  [[nodiscard]] const std::string& Text(int index) const { return nodes_[index].text; }
  [[nodiscard]] int State(int index) const { return nodes_[index].state; }
  // Index of the first ticked handset node.
  [[nodiscard]] std::optional<int> FirstTicked() const;
  // Handset number of node `index` (its text as a whole number, 0 if it is none).
  [[nodiscard]] int Number(int index) const;
  // The handset numbers as bytes, in tree order.
  [[nodiscard]] std::vector<std::uint8_t> HandsetBytes() const;

 private:
  struct Node {
    std::string text;
    int state;
  };
  std::vector<Node> nodes_;
};

}  // namespace orderlink
