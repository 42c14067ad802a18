#include <gtest/gtest.h>

#include "download/DownloadWire.h"

namespace orderlink::test {
namespace {

TEST(DownloadWire, FieldsAreSeparatedByOneBlankPerTable) {
  const std::string h = "00020001";
  const std::pair<std::string, std::string> cases[] = {
      {h + "KYQB001" + std::string(20, 'r'), h + "KYQB001 " + std::string(20, 'r')},
      {h + "QCB 12abcdefghXYZ", h + "QCB 1 2 abcdefgh"},
      {h + "QCB 1", h + "QCB 1  "},  // both blanks even without the fields
      {h + "CPB " + std::string(5, 'c') + std::string(31, 'n') + std::string(9, 'p') +
           std::string(45, 'u') + std::string(10, 'k'),
       h + "CPB ccccc " + std::string(31, 'n') + " " + std::string(9, 'p') + " " +
           std::string(45, 'u') + " " + std::string(10, 'k')},
      {h + "TJNR1234567" + std::string(29, 'N') + "PPPPPPPPPQQQQ",
       h + "TJNR1234567 " + std::string(29, 'N') + " PPPPPPPPP QQQQ"},
      {h + "CLB " + std::string(12, 'x'), h + "CLB " + std::string(12, 'x')},
  };
  for (const auto& [line, wire] : cases) EXPECT_EQ(ToWireForm(line), wire);
}

TEST(DownloadWire, OpeningPayloadAndProgressText) {
  EXPECT_EQ(QbksPayload(57, {"JDMC", "CLB ", "CPB "}), "0005703JDMCCLB CPB ");
  EXPECT_EQ(RecordProgressText("01200012CPB " + std::string(100, 'd')),
            "正在下载菜品表...      第0012条/共0120条");
}

TEST(DownloadWire, ResendRangesPickJobLinesByPosition) {
  std::vector<std::string> lines;
  for (int i = 1; i <= 20; ++i) lines.push_back("L" + std::to_string(i));
  auto group = [](const char* digits, int n) { return std::string(digits) + static_cast<char>(n); };
  auto picked = [&](const std::string& content) {
    std::string out;
    for (const auto& e : ReadResendRanges(content, lines))
      out += e.recordNumber + "=" + e.jobLine + " ";
    return out;
  };
  EXPECT_EQ(picked(group("00010", 3)), "00011=L11 00012=L12 00013=L13 ");
  // 13 bytes: two groups and a stray byte; n = 0 asks for nothing.
  EXPECT_EQ(picked(group("00000", 1) + group("00004", 0) + "9"), "00001=L1 ");
  // Ranges past the end are cut there; a group that is not digits is skipped.
  EXPECT_EQ(picked(group("00018", 9) + group("0x001", 1) + group("00025", 1)),
            "00019=L19 00020=L20 ");
  // The count is a byte (255 here); more than 501 entries are dropped.
  lines.assign(2000, "x");
  EXPECT_EQ(ReadResendRanges(group("00000", 255) + group("00300", 255) + group("01000", 255), lines)
                .size(),
            kMaxResendEntries);
}

}  // namespace
}  // namespace orderlink::test
