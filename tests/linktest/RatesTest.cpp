#include <gtest/gtest.h>

#include "common/WholeNumber.h"
#include "linktest/TestGrid.h"

namespace orderlink {
namespace {

TEST(Rates, BothFormats) {
  struct Case {
    double percent;
    const char* padded;
    const char* trimmed;
  };
  const Case cases[] = {
      {0, "00.00%", "%"},
      {0.5, "00.50%", ".5%"},
      {0.004, "00.00%", "%"},
      {0.005, "00.01%", ".01%"},
      {5, "05.00%", "5%"},
      {12.5, "12.50%", "12.5%"},
      {100, "100.00%", "100%"},
      {200.0 / 3, "66.67%", "66.67%"},
      {1.0 / 32 * 100, "03.13%", "3.13%"},  // halves round away from zero
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatPaddedPercent(c.percent), c.padded) << c.percent;
    EXPECT_EQ(FormatTrimmedPercent(c.percent), c.trimmed) << c.percent;
  }
}

TEST(WholeNumber, AcceptsOnlyWholeDecimalNumbers) {
  EXPECT_EQ(ParseWholeNumber(" 12 "), 12);
  EXPECT_EQ(ParseWholeNumber("-1"), -1);
  EXPECT_EQ(ParseWholeNumber("+7"), 7);
  for (const char* bad : {"", "  ", "1.5", "12a", "0x10", "+-1", "99999999999"}) {
    EXPECT_EQ(ParseWholeNumber(bad), std::nullopt) << bad;
  }
}

}  // namespace
}  // namespace orderlink
