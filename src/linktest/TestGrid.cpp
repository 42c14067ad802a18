#include "linktest/TestGrid.h"

#include <cstdio>
#include <cstdlib>

#include "common/WholeNumber.h"

namespace orderlink {

TestGrid::TestGrid() {
  rows_.push_back({"机号", "发送总数", "发送错误", "发送误码率", "接收总数", "接收错误", "接收延时",
                   "接收误码率"});
}

void TestGrid::AddRow(const std::string& handsetText) {
  Row row;
  row.fill("0");
  row[kColHandset] = handsetText;
  rows_.push_back(std::move(row));
}

void TestGrid::ResetCounters() {
  for (std::size_t r = 1; r < rows_.size(); ++r) {
    // assign(1, ...) rather than = "0": GCC 12 reports a false -Wrestrict on the latter.
    for (int c = 1; c < kColumns; ++c) rows_[r][c].assign(1, '0');
  }
}

int TestGrid::Count(int row, int column) const {
  return ParseWholeNumber(Cell(row, column)).value_or(0);
}

void TestGrid::Increment(int row, int column) {
  SetCell(row, column, std::to_string(Count(row, column) + 1));
}

namespace {

// The value in hundredths, rounded as the number formats of the grid round.
long long Hundredths(double value) {
  // 15 significant digits: "d.dddddddddddddde+XX".
  char text[40];
  std::snprintf(text, sizeof text, "%.14e", value);
  long long digits = 0;
  const char* p = text;
  for (; *p != 'e'; ++p) {
    if (*p >= '0' && *p <= '9') digits = digits * 10 + (*p - '0');
  }
  const int exponent = std::atoi(p + 1);
  // value = digits * 10^(exponent - 14), so hundredths = digits * 10^(exponent - 12).
  int shift = 12 - exponent;
  if (shift <= 0) {
    for (; shift < 0; ++shift) digits *= 10;
    return digits;
  }
  if (shift > 16) return 0;  // below 0.005 even after rounding
  long long divisor = 1;
  for (int i = 0; i < shift; ++i) divisor *= 10;
  return digits / divisor + ((digits % divisor) * 2 >= divisor ? 1 : 0);
}

}  // namespace

std::string FormatPaddedPercent(double percent) {
  const long long h = Hundredths(percent);
  char text[40];
  std::snprintf(text, sizeof text, "%02lld.%02lld%%", h / 100, h % 100);
  return text;
}

std::string FormatTrimmedPercent(double percent) {
  const long long h = Hundredths(percent);
  std::string text = h >= 100 ? std::to_string(h / 100) : "";
  const long long fraction = h % 100;
  if (fraction % 10 != 0) {
    text += '.';
    text += static_cast<char>('0' + fraction / 10);
    text += static_cast<char>('0' + fraction % 10);
  } else if (fraction != 0) {
    text += '.';
    text += static_cast<char>('0' + fraction / 10);
  }
  return text + "%";
}

}  // namespace orderlink
