#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>

#include "common/Clock.h"
#include "common/Gbk.h"
#include "common/TextFile.h"
#include "common/TxtDir.h"

namespace orderlink {
namespace {

const std::string kZhong = "\xD6\xD0";  // GBK for one Chinese character

TEST(Gbk, FirstOfDoubleByteIsFoundFromTheStart) {
  const std::string text = "a" + kZhong +
                           "\xB0\xA1"
                           "b";
  EXPECT_FALSE(IsFirstOfDoubleByte(text, 0));
  EXPECT_TRUE(IsFirstOfDoubleByte(text, 1));
  EXPECT_FALSE(IsFirstOfDoubleByte(text, 2));  // 0xD0 is a lead value but a second byte here
  EXPECT_TRUE(IsFirstOfDoubleByte(text, 3));
  EXPECT_FALSE(IsFirstOfDoubleByte(text, 5));
  EXPECT_EQ(CutAtCharacter(text, 2), 1u);
  EXPECT_EQ(CutAtCharacter(text, 3), 3u);
  EXPECT_EQ(CutAtCharacter(text, 100), text.size());
}

TEST(Gbk, PaddingNeverTruncates) {
  EXPECT_EQ(PadRight("ab", 4), "ab  ");
  EXPECT_EQ(PadRight("abcdef", 4), "abcdef");
  EXPECT_EQ(PadLeft("ab", 4), "  ab");
  EXPECT_EQ(PadLeft("abcdef", 4), "abcdef");
  EXPECT_EQ(PadRight(kZhong, 4), kZhong + "  ");  // counts bytes, not characters
  EXPECT_EQ(ZeroPadded(57, 5), "00057");
  EXPECT_EQ(ZeroPadded(123456, 4), "123456");
}

TEST(Gbk, ConvertsBothWaysAndReplacesWhatCannotBeConverted) {
  EXPECT_EQ(Utf8ToGbk("中"), kZhong);
  EXPECT_EQ(GbkToUtf8(kZhong), "中");
  EXPECT_EQ(GbkToUtf8("ok" + kZhong), "ok中");
  EXPECT_EQ(Utf8ToGbk("\xF0\x9F\x98\x80x"), "?x");  // an emoji has no GBK form
}

TEST(Gbk, ExactConversionRefusesWhatWouldBecomeAQuestionMark) {
  EXPECT_EQ(Utf8ToGbkExact("ab中"), "ab" + kZhong);
  EXPECT_EQ(Utf8ToGbkExact(""), "");
  EXPECT_EQ(Utf8ToGbkExact("?"), "?");
  EXPECT_FALSE(Utf8ToGbkExact("ab\xF0\x9F\x98\x80"));  // "ab😀" is not "ab?"
  EXPECT_FALSE(Utf8ToGbkExact("a\xFF"));               // broken UTF-8
}

TEST(TextFile, FailureMessageNamesTheFileAndTheSystemsReason) {
  struct Case {
    ReadFailure failure;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{ReadProblem::Missing, ENOENT}, "菜品表文件不存在！"},
      {{ReadProblem::Missing, ENOENT, "/srv/点菜/TXT"},
       "菜品表文件不存在！（在/srv/点菜/TXT中查找）"},
      {{ReadProblem::SystemError, EACCES}, "菜品表.txt无法读取：Permission denied"},
      {{ReadProblem::NotRegularFile, EISDIR}, "菜品表.txt无法读取：Is a directory"},
      {{ReadProblem::NotRegularFile, 0}, "菜品表.txt无法读取：它不是普通文件（管道或设备）"},
      {{ReadProblem::DanglingLink, ENOENT},
       "菜品表.txt无法读取：它是一个链接，链接指向的文件不存在"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ReadFailureMessage("菜品表.txt", c.failure, "菜品表文件不存在！"), c.message);
  }
}

TEST(TextFile, SplitsAtCrLfCrOrLfAndAFinalBreakAddsNoLine) {
  using V = std::vector<std::string>;
  EXPECT_EQ(SplitLines(""), V{});
  EXPECT_EQ(SplitLines("a"), V{"a"});
  EXPECT_EQ(SplitLines("a\r\n"), V{"a"});
  EXPECT_EQ(SplitLines("a\r\nb\rc\nd"), (V{"a", "b", "c", "d"}));
  EXPECT_EQ(SplitLines("a\n\nb\r\n\r\n"), (V{"a", "", "b", ""}));
  EXPECT_EQ(SplitLines("a\n\r"), (V{"a", ""}));  // LF then a lone CR: two breaks
}

class TempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    root = std::filesystem::temp_directory_path() /
           ("orderlink-common-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(root / "TXT");
  }
  void TearDown() override { std::filesystem::remove_all(root); }
  std::filesystem::path root;
};

TEST_F(TempDir, WritesCrLfAndReplacesAtomically) {
  const auto file = root / "TXT" / "x.txt";
  ASSERT_TRUE(WriteLines(file, {"a", "b"}));
  EXPECT_EQ(*ReadFileBytes(file), "a\r\nb\r\n");
  ASSERT_TRUE(WriteFileAtomically(file, "new"));
  EXPECT_EQ(*ReadFileBytes(file), "new");
  EXPECT_FALSE(WriteFileAtomically(root / "missing" / "x.txt", "data"));
  EXPECT_FALSE(ReadLines(root / "missing.txt").has_value());
}

TEST_F(TempDir, FindsFilesWithoutRegardToCaseAndKeepsTheirSpelling) {
  TxtDir txt(root);
  std::ofstream(root / "TXT" / "r1.TXT") << "x";
  std::ofstream(root / "TXT" / "基站.txt") << "1 COM1";
  EXPECT_EQ(txt.Find("R1.txt")->filename(), "r1.TXT");
  EXPECT_EQ(txt.Find("基站.TXT")->filename(), "基站.txt");
  EXPECT_FALSE(txt.Find("T1.txt").has_value());
  EXPECT_EQ(txt.ForWrite("R1.txt").filename(), "r1.TXT");
  EXPECT_EQ(txt.ForWrite("T1.txt"), root / "TXT" / "T1.txt");
}

// Entries that stand where a data file should be, and what reading them reports.
TEST_F(TempDir, ReadsTellMissingFromUnreadable) {
  const auto txt = root / "TXT";
  std::filesystem::create_directory(txt / "dir.txt");
  std::filesystem::create_symlink(txt / "gone.txt", txt / "dangling.txt");
  std::filesystem::create_symlink(txt / "loop.txt", txt / "loop.txt");
  ASSERT_EQ(::mkfifo((txt / "fifo.txt").c_str(), 0644), 0);
  struct Case {
    std::string name;
    ReadProblem problem;
    int systemError;
  };
  const std::vector<Case> cases = {
      {"none.txt", ReadProblem::Missing, ENOENT},
      {"dir.txt", ReadProblem::NotRegularFile, EISDIR},
      {"dangling.txt", ReadProblem::DanglingLink, ENOENT},
      {"loop.txt", ReadProblem::SystemError, ELOOP},
      {"fifo.txt", ReadProblem::NotRegularFile, 0},
  };
  // A FIFO without a writer must not hold the reader: read on another thread and,
  // should it hang, open the FIFO for writing to set it free before failing.
  auto reads = std::async(std::launch::async, [&] {
    std::vector<ReadFailure> failures;
    for (const auto& c : cases) failures.push_back(ReadLines(txt / c.name).Failure());
    return failures;
  });
  if (reads.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    std::ofstream release(txt / "fifo.txt");
    FAIL() << "reading a FIFO waits for a writer";
  }
  const auto failures = reads.get();
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    EXPECT_EQ(failures[i].problem, cases[i].problem);
    EXPECT_EQ(failures[i].systemError, cases[i].systemError);
  }

  // The TXT lookup hands out what stands there, so that the reason can be told.
  const TxtDir dir(root);
  const auto directory = ReadTxtLines(dir, "DIR.TXT");
  ASSERT_FALSE(directory);
  EXPECT_EQ(directory.Failure().problem, ReadProblem::NotRegularFile);
  EXPECT_EQ(ReadTxtBytes(dir, "dangling.txt").Failure().problem, ReadProblem::DanglingLink);
  EXPECT_EQ(ReadTxtBytes(dir, "none.txt").Failure().problem, ReadProblem::Missing);
  EXPECT_EQ(ReadTxtLines(dir, "none.txt").Failure().folder, dir.Path());
  // A readable file in another spelling wins over a directory of the exact name.
  std::ofstream(txt / "DIR.txt") << "a\r\nb";
  EXPECT_EQ(ReadTxtLines(dir, "dir.txt").value_or({}), (std::vector<std::string>{"a", "b"}));
}

TEST_F(TempDir, ReadOfAFileWithoutPermissionSaysSo) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads files of mode 000";
  const auto file = root / "TXT" / "locked.txt";
  std::ofstream(file) << "x";
  std::filesystem::permissions(file, std::filesystem::perms::none);
  const auto read = ReadFileBytes(file);
  ASSERT_FALSE(read);
  EXPECT_EQ(read.Failure().problem, ReadProblem::SystemError);
  EXPECT_EQ(read.Failure().systemError, EACCES);
}

TEST_F(TempDir, ReplaceNeverWritesThroughALinkPlantedAtATemporaryName) {
  const auto victim = root / "victim.txt";
  std::ofstream(victim) << "keep";
  const auto file = root / "TXT" / "T1.txt";
  std::filesystem::create_symlink(victim, root / "TXT" / "T1.txt.tmp");

  ASSERT_TRUE(WriteFileAtomically(file, "record"));
  EXPECT_EQ(ReadFileBytes(victim).value_or(""), "keep");
  EXPECT_FALSE(std::filesystem::is_symlink(file));
  EXPECT_EQ(ReadFileBytes(file).value_or(""), "record");
}

TEST_F(TempDir, FailedReplaceKeepsTheOldFileAndLeavesNoTemporary) {
  const auto txt = root / "TXT";
  const auto entries = [&] {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(txt))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  };
  ASSERT_TRUE(WriteFileAtomically(txt / "T1.txt", "old"));
  EXPECT_EQ(entries(), std::vector<std::string>{"T1.txt"});

  // Writing fails half-way: a file size limit of 4 bytes (EFBIG, not the signal).
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto previousHandler = ::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 4;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool written = WriteFileAtomically(txt / "T1.txt", "a longer record");
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, previousHandler);
  EXPECT_FALSE(written);
  EXPECT_EQ(ReadFileBytes(txt / "T1.txt").value_or(""), "old");
  EXPECT_EQ(entries(), std::vector<std::string>{"T1.txt"});
}

// What a replace killed half-way leaves is removed; a live replace's temporary,
// other files and look-alike names stay.
TEST_F(TempDir, LeftoverTemporariesOfKilledReplacesAreRemovedAndNothingElse) {
  const auto txt = root / "TXT";
  const auto write = [&](const std::string& name) { std::ofstream(txt / name) << "part"; };
  for (const char* name : {"T1.txt.k3x9a0qz.tmp", "管理员密码.txt.00000000.tmp"}) write(name);
  const std::vector<std::string> kept = {"T1.txt",
                                         "T1.txt.tmp",
                                         "T1.txt.ABCDEFGH.tmp",
                                         "T1.txt.abc.tmp",
                                         "notes.tmp",
                                         "T1.txt.abcdefghi.tmp",
                                         ".abcdefgh.tmp",
                                         "R1.txt.abcdefgh.tmp.1",
                                         "DX.txt.live0001.tmp"};
  for (const std::string& name : kept) write(name);
  std::filesystem::create_directory(txt / "dir.abcdefgh.tmp");
  // A replace in progress in another process holds its temporary locked.
  const int live = ::open((txt / "DX.txt.live0001.tmp").c_str(), O_RDONLY);
  ASSERT_GE(live, 0);
  ASSERT_EQ(::flock(live, LOCK_EX), 0);

  auto removed = RemoveLeftoverTemporaries(txt);
  std::sort(removed.begin(), removed.end());
  EXPECT_EQ(removed, (std::vector<std::filesystem::path>{txt / "T1.txt.k3x9a0qz.tmp",
                                                         txt / "管理员密码.txt.00000000.tmp"}));
  for (const std::string& name : kept) EXPECT_TRUE(std::filesystem::exists(txt / name)) << name;
  EXPECT_TRUE(std::filesystem::is_directory(txt / "dir.abcdefgh.tmp"));
  ::close(live);

  // The program's own replace leaves nothing behind to remove.
  ASSERT_TRUE(WriteFileAtomically(txt / "T1.txt", "record"));
  EXPECT_EQ(RemoveLeftoverTemporaries(txt).size(), 1u) << "only the one no longer locked";
}

TEST(Clock, VirtualSleepsAdvanceTimeAndStopEndsPauses) {
  VirtualClock clock(0);
  EXPECT_TRUE(clock.SleepMs(150));
  EXPECT_EQ(clock.NowMs(), 150);
  StopSignal stop;
  stop.Raise();
  EXPECT_FALSE(clock.SleepMs(10, &stop));
  EXPECT_EQ(clock.Sleeps(), std::vector<std::int64_t>{150});
  SystemClock real;
  EXPECT_FALSE(real.SleepMs(60'000, &stop));  // returns at once
}

}  // namespace
}  // namespace orderlink
