// The log file keeps two files of at most the cap each, never splitting a line.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/RotatingLogFile.h"
#include "support/Processes.h"

namespace orderlink {
namespace {

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class RotatingLogFileTest : public ::testing::Test {
 protected:
  test::TempAppDir dir;
  std::filesystem::path Log() const {
    return std::filesystem::path(dir.Path()) / "state" / "orderlink.log";
  }
  std::filesystem::path Previous() const { return std::filesystem::path(Log()) += ".1"; }
};

TEST_F(RotatingLogFileTest, MakesItsFolderAndRotatesBeforePassingTheCap) {
  RotatingLogFile file(Log(), 20);  // two 9-byte lines fit, a third does not
  std::string error;
  ASSERT_TRUE(file.Open(&error)) << error;
  for (const char* line : {"line 001", "line 002", "line 003", "line 004", "line 005"})
    file.Append(line);
  EXPECT_EQ(ReadAll(Previous()), "line 003\nline 004\n");
  EXPECT_EQ(ReadAll(Log()), "line 005\n");
  EXPECT_EQ(file.PreviousPath(), Previous());
}

TEST_F(RotatingLogFileTest, CountsWhatTheFileHeldBeforeAndKeepsOnlyOneOldFile) {
  std::filesystem::create_directories(Log().parent_path());
  std::ofstream(Log()) << "from last run\n";  // 14 bytes
  std::ofstream(Previous()) << "oldest\n";
  RotatingLogFile file(Log(), 20);
  std::string error;
  ASSERT_TRUE(file.Open(&error)) << error;
  file.Append("new 1");  // 14 + 6 = 20: still fits
  file.Append("new 2");
  EXPECT_EQ(ReadAll(Previous()), "from last run\nnew 1\n");
  EXPECT_EQ(ReadAll(Log()), "new 2\n");
}

TEST_F(RotatingLogFileTest, WritesALineLongerThanTheCapWholeIntoAFileOfItsOwn) {
  RotatingLogFile file(Log(), 8);
  std::string error;
  ASSERT_TRUE(file.Open(&error)) << error;
  file.Append("short");
  file.Append("a rather long line");
  file.Append("next");
  EXPECT_EQ(ReadAll(Previous()), "a rather long line\n");
  EXPECT_EQ(ReadAll(Log()), "next\n");
}

TEST_F(RotatingLogFileTest, SaysWhyItCannotOpenAndThenDropsLines) {
  std::filesystem::create_directories(Log());  // a folder where the file should be
  RotatingLogFile file(Log(), 20);
  std::string error;
  EXPECT_FALSE(file.Open(&error));
  EXPECT_NE(error.find(Log().string()), std::string::npos) << error;
  file.Append("dropped");  // must not crash
  EXPECT_TRUE(std::filesystem::is_directory(Log()));
}

}  // namespace
}  // namespace orderlink
