#pragma once
// The statistics grid of the link test as plain state. Row 0 holds the
// column titles; row r >= 1 belongs to the handset of tree node r. Every cell is
// text: the counters are decimal integers that each booking parses, increases and
// writes back, and the grid is the only store of them. Window thread only.

#include <array>
#include <string>
#include <vector>

namespace orderlink {

enum TestColumn : int {
  kColHandset = 0,      // 机号
  kColSent = 1,         // 发送总数
  kColSendErrors = 2,   // 发送错误 (no step of the cycle adds to it)
  kColSendRate = 3,     // 发送误码率, "00.00%"
  kColReceived = 4,     // 接收总数
  kColCorrupted = 5,    // 接收错误: the answer's payload was wrong
  kColMissing = 6,      // 接收延时: no answer within the interval
  kColReceiveRate = 7,  // 接收误码率, "##.##%"
};

class TestGrid {
 public:
  static constexpr int kColumns = 8;
  using Row = std::array<std::string, kColumns>;

  TestGrid();

  // Appends a handset row: its text in column 0, "0" in columns 1 to 7.
  void AddRow(const std::string& handsetText);
  // Columns 1 to 7 of every handset row := "0".
  void ResetCounters();

  [[nodiscard]] int RowCount() const { return static_cast<int>(rows_.size()); }
  [[nodiscard]] const std::string& Cell(int row, int column) const { return rows_[row][column]; }
  void SetCell(int row, int column, std::string text) { rows_[row][column] = std::move(text); }
  // Parses the cell as a whole number (0 if it is none), adds one, writes it back.
  void Increment(int row, int column);
  // The cell as a whole number, 0 if it is none.
  [[nodiscard]] int Count(int row, int column) const;

 private:
  std::vector<Row> rows_;
};

// Rates are percentages, rounded to two decimals (halves away from zero, on the
// value taken to 15 significant digits). Both expect a value of 0 or more.
// "00.00%": 0 -> "00.00%", 5 -> "05.00%", 100 -> "100.00%".
[[nodiscard]] std::string FormatPaddedPercent(double percent);
// "##.##%": 0 -> "%", 0.5 -> ".5%", 50 -> "50%", 200/3 -> "66.67%".
[[nodiscard]] std::string FormatTrimmedPercent(double percent);

}  // namespace orderlink
