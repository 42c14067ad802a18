#include <gtest/gtest.h>

#include "access/AccessFiles.h"
#include "access/LoginSession.h"
#include "common/Gbk.h"
#include "support/Processes.h"
#include "common/TextFile.h"

namespace orderlink {
namespace {

class RecordingHost final : public HostLink {
 public:
  void Notify(int code) override { codes.push_back(code); }
  std::vector<int> codes;
};

std::string FileBytes(const test::TempAppDir& dir, const std::string& name) {
  return ReadFileBytes(dir.Txt(name)).value_or("<missing>");
}

TEST(LoginFileTest, FieldsArePaddedInGbkBytesAndNeverCut) {
  struct Case {
    std::string user, password, line;
  };
  const std::vector<Case> cases = {
      {"ab", "1234", "ab   1234    "},
      {"abcde", "123456789", "abcde 123456789"},
      {"", "", std::string(13, ' ')},
      {"张", "密码", "张   密码    "},       // two-byte characters count two
      {"张三丰", "1", "张三丰 1       "},  // six bytes: longer than the field, kept whole
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LoginLine(c.user, c.password), Utf8ToGbk(c.line)) << c.user << "/" << c.password;
  }
}

TEST(LoginFileTest, WrittenWholeWithCrLfKeepingTheExistingSpelling) {
  test::TempAppDir dir;
  const TxtDir txt(dir.Path());
  ASSERT_TRUE(WriteLoginFile(txt, "ab", "1234"));
  EXPECT_EQ(FileBytes(dir, "DL.txt"), "ab   1234    \r\n");

  std::filesystem::rename(dir.Txt("DL.txt"), dir.Txt("dl.TXT"));
  ASSERT_TRUE(WriteLoginFile(txt, "x", "y"));
  EXPECT_EQ(FileBytes(dir, "dl.TXT"), "x    y       \r\n");
  EXPECT_FALSE(std::filesystem::exists(dir.Txt("DL.txt")));
}

TEST(LoginFileTest, VerdictIsExactlyOneOnTheFirstLine) {
  struct Case {
    std::string content;
    LoginVerdict verdict;
  };
  const std::vector<Case> cases = {
      {"1\r\n", LoginVerdict::Accepted}, {"1", LoginVerdict::Accepted},
      {"1\r\nanything\r\n", LoginVerdict::Accepted}, {" 1\r\n", LoginVerdict::Refused},
      {"1 \r\n", LoginVerdict::Refused}, {"0\r\n", LoginVerdict::Refused},
      {"\r\n1\r\n", LoginVerdict::Refused}, {"", LoginVerdict::Refused},
      {"ab   1234    \r\n", LoginVerdict::Refused},
  };
  test::TempAppDir dir;
  const TxtDir txt(dir.Path());
  EXPECT_EQ(ReadLoginVerdict(txt), LoginVerdict::NoFile);
  for (const auto& c : cases) {
    dir.WriteGbk("DL.txt", c.content);
    EXPECT_EQ(ReadLoginVerdict(txt), c.verdict) << '"' << c.content << '"';
  }
}

TEST(AdminPasswordFileTest, PaddedToEightBytes) {
  struct Case {
    std::string password, bytes;
  };
  const std::vector<Case> cases = {
      {"123", "123     \r\n"},
      {"12345678", "12345678\r\n"},
      {"", "        \r\n"},
      {"张三李四", Utf8ToGbk("张三李四") + "\r\n"},
      {"123456789", "123456789\r\n"},  // padding never cuts
  };
  test::TempAppDir dir;
  const TxtDir txt(dir.Path());
  for (const auto& c : cases) {
    ASSERT_TRUE(WriteAdminPasswordFile(txt, c.password));
    EXPECT_EQ(FileBytes(dir, "管理员密码.txt"), c.bytes) << c.password;
  }
}

TEST(AccessFilesTest, UnwritableDirectoryIsReported) {
  const TxtDir nowhere("/nonexistent-orderlink-dir");
  EXPECT_FALSE(WriteLoginFile(nowhere, "a", "b"));
  EXPECT_FALSE(WriteAdminPasswordFile(nowhere, "123"));
}

TEST(LoginSessionTest, DebugModeAcceptsAnyLoginAtOnce) {
  test::TempAppDir dir;
  RecordingHost host;
  LoginSession session(TxtDir(dir.Path()), host, /*debugMode=*/true);
  EXPECT_EQ(session.OnTimer(false, true), LoginSession::TimerResult::ShowForm);
  EXPECT_EQ(session.Submit("anyone", "x"), LoginSession::SubmitResult::LoggedIn);
  EXPECT_TRUE(session.LoggedIn());
  EXPECT_TRUE(host.codes.empty());
  EXPECT_EQ(FileBytes(dir, "DL.txt"), "anyone x       \r\n");
  EXPECT_EQ(session.OnTimer(true, true), LoginSession::TimerResult::StopAndClose);
}

TEST(LoginSessionTest, HostModeWaitsForTheVerdict) {
  test::TempAppDir dir;
  RecordingHost host;
  LoginSession session(TxtDir(dir.Path()), host, /*debugMode=*/false);
  EXPECT_EQ(session.TakeVerdict(), LoginSession::VerdictResult::None) << "no DL.txt yet";

  EXPECT_EQ(session.Submit("ab", "1234"), LoginSession::SubmitResult::AwaitingVerdict);
  EXPECT_EQ(host.codes, std::vector<int>{NotifyLogin});
  EXPECT_FALSE(session.LoggedIn());
  // Our own line is still there: no acceptance.
  EXPECT_EQ(session.TakeVerdict(), LoginSession::VerdictResult::Refused);

  dir.WriteGbk("DL.txt", "1\r\n");
  EXPECT_EQ(session.TakeVerdict(), LoginSession::VerdictResult::Accepted);
  EXPECT_TRUE(session.LoggedIn());
  dir.WriteGbk("DL.txt", "0\r\n");
  EXPECT_EQ(session.TakeVerdict(), LoginSession::VerdictResult::None) << "nobody waits any more";
}

TEST(LoginSessionTest, UnwritableLoginFileIsNotSentOn) {
  RecordingHost host;
  for (bool debug : {false, true}) {
    LoginSession session(TxtDir("/nonexistent-orderlink-dir"), host, debug);
    EXPECT_EQ(session.Submit("ab", "1234"), LoginSession::SubmitResult::NotWritten);
    EXPECT_FALSE(session.LoggedIn());
  }
  EXPECT_TRUE(host.codes.empty());
}

}  // namespace
}  // namespace orderlink
