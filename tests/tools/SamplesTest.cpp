#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "common/Gbk.h"
#include "common/TextFile.h"
#include "download/DownloadTables.h"

namespace orderlink {
namespace {

const std::filesystem::path kSamples = std::filesystem::path(ORDERLINK_SOURCE_DIR) / "samples";

std::string Tag(const std::string& jobLine) { return jobLine.substr(8, 4); }

// The committed sample tables must pass the download's own preparation with every
// table ticked, or a demo download of them fails with a message instead of showing
// the transfer.
TEST(SampleTables, PrepareForADownloadOfEveryTable) {
  std::array<bool, kDownloadTableCount> every{};
  every.fill(true);
  const PreparedDownload prepared = PrepareDownload(TxtDir(kSamples), every);
  EXPECT_EQ(prepared.error, "");
  ASSERT_EQ(prepared.tables.size(), static_cast<std::size_t>(kDownloadTableCount));

  // Every table gives records; the restaurant name arrives whole, not cut.
  std::set<std::string> tags;
  std::size_t dishes = 0;
  for (const auto& line : prepared.jobLines) {
    ASSERT_GE(line.size(), 12u) << line;
    tags.insert(Tag(line));
    if (Tag(line) == "CPB ") ++dishes;
  }
  for (const DownloadTable& table : kDownloadTables) {
    EXPECT_TRUE(tags.count(table.tag)) << table.tag;
  }
  EXPECT_GE(dishes, 60u);
  const auto name = ReadLines(kSamples / "TXT" / "酒店名称.txt");
  ASSERT_TRUE(name && !name->empty() && !prepared.jobLines.empty());
  ASSERT_EQ(Tag(prepared.jobLines.front()), "JDMC");
  EXPECT_EQ(prepared.jobLines.front().substr(12).rfind(name->front(), 0), 0u);

  // The content tables name only dishes of 菜品表.txt: the preparation put in the
  // dish's name, not the code followed by blanks it gives for an unknown dish.
  for (const auto& line : prepared.jobLines) {
    if (Tag(line) != "TCPB" && Tag(line) != "TJNR") continue;
    const std::string code = line.substr(14, 5);
    EXPECT_NE(line.substr(19, 20), code + std::string(15, ' ')) << Tag(line) << ": " << code;
  }
}

TEST(SampleTables, AreGbkLinesEndedByCrLf) {
  for (const auto& file : std::filesystem::directory_iterator(kSamples / "TXT")) {
    const std::string name = file.path().filename().string();
    const auto bytes = ReadFileBytes(file.path());
    ASSERT_TRUE(bytes) << name;
    EXPECT_TRUE(bytes->ends_with("\r\n")) << name;
    const auto lines = SplitLines(*bytes);
    std::string crLfEnded;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      EXPECT_EQ(Utf8ToGbk(GbkToUtf8(lines[i])), lines[i]) << name << " line " << i + 1;
      crLfEnded += lines[i] + "\r\n";
    }
    EXPECT_EQ(crLfEnded, *bytes) << name << ": a line ends without CR LF";
  }
}

// One base station on COM1 and eight handsets, as the demo runs them.
TEST(SampleTables, DescribeTheDemoInstallation) {
  EXPECT_EQ(*ReadFileBytes(kSamples / "TXT" / "基站.txt"), "1 COM1\r\n");
  EXPECT_EQ(ReadLines(kSamples / "TXT" / "点菜机.txt")->size(), 8u);
}

}  // namespace
}  // namespace orderlink
