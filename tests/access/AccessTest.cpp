#include <gtest/gtest.h>

#include "access/AccessFiles.h"
#include "access/LoginSession.h"
#include "access/TypedText.h"
#include "common/Gbk.h"
#include "common/TextFile.h"
#include "support/Processes.h"
#include "support/RecordingHostLink.h"

namespace orderlink {
namespace {

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
      {"张", "密码", "张   密码    "},     // two-byte characters count two
      {"张三丰", "1", "张三丰 1       "},  // six bytes: longer than the field, kept whole
  };
  for (const auto& c : cases) {
    const TypedText line = LoginLine(c.user, c.password);
    EXPECT_TRUE(line.Ok()) << line.problem;
    EXPECT_EQ(line.gbk, Utf8ToGbk(c.line)) << c.user << "/" << c.password;
    // What a trace keeps of it: the user and the columns, not the password.
    const std::string userPart =
        Utf8ToGbk(c.line).substr(0, std::max<std::size_t>(4, Utf8ToGbk(c.user).size()) + 1);
    std::string masked = userPart;
    for (std::size_t i = userPart.size(); i < line.gbk.size(); ++i)
      masked += line.gbk[i] == ' ' ? ' ' : '*';
    EXPECT_EQ(WithoutPassword(LoginFileBytes(line.gbk)), masked + "\r\n")
        << c.user << "/" << c.password;
  }
}

TEST(TypedTextTest, RefusesWhatAFileLineCannotCarry) {
  const std::string kControl = "用户名中不能有换行、制表符等控制字符，请重新输入！";
  struct Case {
    std::string typed;
    std::size_t maxBytes;
    std::string gbk;      // when accepted
    std::string problem;  // empty: accepted
  };
  const std::vector<Case> cases = {
      {"ab 12", 0, "ab 12", ""},
      {"", 0, "", ""},
      {"张三", 0, "\xD5\xC5\xC8\xFD", ""},
      {"1\nzz", 0, "", kControl},  // pasted: would split DL.txt into two lines
      {"\tab", 0, "", kControl},
      {std::string("a\0b", 3), 0, "", kControl},
      {"a\x7F", 0, "", kControl},
      {"a\xC2\x85", 0, "", kControl},  // NEL, a C1 control
      {"ab\xF0\x9F\x98\x80", 0, "",
       "用户名中的字符“\xF0\x9F\x98\x80”不能用GBK保存，请删去它后重新输入！"},
      {"a\xFF", 0, "", "用户名中的无法识别的字符不能用GBK保存，请删去它后重新输入！"},
      {"张三李四", 8, Utf8ToGbk("张三李四"), ""},  // 8 GBK bytes, though 12 of UTF-8
      {"12345678", 8, "12345678", ""},
      {"123456789", 8, "", "用户名最多8个字节（一个汉字占两个字节），请重新输入！"},
      {"张三李四a", 8, "", "用户名最多8个字节（一个汉字占两个字节），请重新输入！"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    const TypedText checked = CheckTypedText("用户名", c.typed, c.maxBytes);
    EXPECT_EQ(checked.problem, c.problem);
    if (c.problem.empty()) {
      EXPECT_EQ(checked.gbk, c.gbk);
    }
  }
}

TEST(LoginFileTest, WrittenWholeWithCrLfKeepingTheExistingSpelling) {
  test::TempAppDir dir;
  const TxtDir txt(dir.Path());
  ASSERT_TRUE(WriteLoginFile(txt, LoginFileBytes(LoginLine("ab", "1234").gbk)));
  EXPECT_EQ(FileBytes(dir, "DL.txt"), "ab   1234    \r\n");

  std::filesystem::rename(dir.Txt("DL.txt"), dir.Txt("dl.TXT"));
  ASSERT_TRUE(WriteLoginFile(txt, LoginFileBytes(LoginLine("x", "y").gbk)));
  EXPECT_EQ(FileBytes(dir, "dl.TXT"), "x    y       \r\n");
  EXPECT_FALSE(std::filesystem::exists(dir.Txt("DL.txt")));
}

TEST(LoginFileTest, VerdictIsExactlyOneOnTheFirstLine) {
  struct Case {
    std::string content;
    LoginVerdict verdict;
  };
  const std::vector<Case> cases = {
      {"1\r\n", LoginVerdict::Accepted},
      {"1", LoginVerdict::Accepted},
      {"1\r\nanything\r\n", LoginVerdict::Accepted},
      {" 1\r\n", LoginVerdict::Refused},
      {"1 \r\n", LoginVerdict::Refused},
      {"0\r\n", LoginVerdict::Refused},
      {"\r\n1\r\n", LoginVerdict::Refused},
      {"", LoginVerdict::Refused},
      {"ab   1234    \r\n", LoginVerdict::Refused},
  };
  test::TempAppDir dir;
  const TxtDir txt(dir.Path());
  EXPECT_EQ(ReadLoginVerdict(txt, "").verdict, LoginVerdict::NoFile);
  for (const auto& c : cases) {
    dir.WriteGbk("DL.txt", c.content);
    EXPECT_EQ(ReadLoginVerdict(txt, "").verdict, c.verdict) << '"' << c.content << '"';
  }
  // The request this program wrote is no answer, whatever its first line.
  dir.WriteGbk("DL.txt", "1\r\nzz   pw      \r\n");
  EXPECT_EQ(ReadLoginVerdict(txt, "1\r\nzz   pw      \r\n").verdict, LoginVerdict::NotAnswered);
  EXPECT_EQ(ReadLoginVerdict(txt, "ab   1234    \r\n").verdict, LoginVerdict::Accepted);
}

TEST(AdminPasswordFileTest, PaddedToEightBytesOrRefusedUnchanged) {
  struct Case {
    std::string password, bytes, problem;
  };
  const std::vector<Case> cases = {
      {"123", "123     \r\n", ""},
      {"12345678", "12345678\r\n", ""},
      {"", "        \r\n", ""},
      {"张三李四", Utf8ToGbk("张三李四") + "\r\n", ""},
      {"123456789", "", "管理员密码最多8个字节（一个汉字占两个字节），请重新输入！"},
      // Stored as "ab?" and downloaded, the handsets would ask for a password nobody typed.
      {"ab\xF0\x9F\x98\x80", "",
       "管理员密码中的字符“\xF0\x9F\x98\x80”不能用GBK保存，请删去它后重新输入！"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.password);
    test::TempAppDir dir;
    EXPECT_EQ(SaveAdminPassword(TxtDir(dir.Path()), c.password), c.problem);
    EXPECT_EQ(FileBytes(dir, "管理员密码.txt"), c.problem.empty() ? c.bytes : "<missing>");
  }
}

TEST(AccessFilesTest, UnwritableDirectoryIsReported) {
  const TxtDir nowhere("/nonexistent-orderlink-dir");
  EXPECT_FALSE(WriteLoginFile(nowhere, "a    b       \r\n"));
  EXPECT_EQ(SaveAdminPassword(nowhere, "123"), "管理员密码.txt文件无法写入，密码没有保存！");
}

TEST(LoginSessionTest, DebugModeAcceptsAnyLoginAtOnce) {
  test::TempAppDir dir;
  test::RecordingHostLink host;
  LoginSession session(TxtDir(dir.Path()), host, /*debugMode=*/true);
  EXPECT_EQ(session.OnPromptTick(false, true), LoginSession::PromptAction::ShowForm);
  EXPECT_EQ(session.Submit("anyone", "x").result, LoginSession::SubmitResult::LoggedIn);
  EXPECT_TRUE(session.LoggedIn());
  EXPECT_TRUE(host.codes.empty());
  EXPECT_EQ(FileBytes(dir, "DL.txt"), "anyone x       \r\n");
  EXPECT_EQ(session.OnPromptTick(true, true), LoginSession::PromptAction::StopAndClose);
}

TEST(LoginSessionTest, HostModeWaitsForTheVerdict) {
  test::TempAppDir dir;
  test::RecordingHostLink host;
  LoginSession session(TxtDir(dir.Path()), host, /*debugMode=*/false);
  EXPECT_EQ(session.TakeVerdict().result, LoginSession::VerdictResult::None) << "no DL.txt yet";

  EXPECT_EQ(session.Submit("ab", "1234").result, LoginSession::SubmitResult::AwaitingVerdict);
  EXPECT_EQ(host.codes, std::vector<int>{NotifyLogin});
  EXPECT_FALSE(session.LoggedIn());
  // Our own request is still there: not an answer of the ordering software.
  EXPECT_EQ(session.TakeVerdict().result, LoginSession::VerdictResult::None);

  dir.WriteGbk("DL.txt", "0\r\n");
  EXPECT_EQ(session.TakeVerdict().result, LoginSession::VerdictResult::Refused);
  dir.WriteGbk("DL.txt", "1\r\n");
  EXPECT_EQ(session.TakeVerdict().result, LoginSession::VerdictResult::Accepted);
  EXPECT_TRUE(session.LoggedIn());
  dir.WriteGbk("DL.txt", "0\r\n");
  EXPECT_EQ(session.TakeVerdict().result, LoginSession::VerdictResult::None)
      << "nobody waits any more";
}

TEST(LoginSessionTest, PastedLineBreakCannotForgeTheVerdict) {
  test::TempAppDir dir;
  test::RecordingHostLink host;
  LoginSession session(TxtDir(dir.Path()), host, /*debugMode=*/false);
  const auto submitted = session.Submit("1\nzz", "pw");
  EXPECT_EQ(submitted.result, LoginSession::SubmitResult::InputRefused);
  EXPECT_EQ(submitted.message, "用户名中不能有换行、制表符等控制字符，请重新输入！");
  EXPECT_EQ(FileBytes(dir, "DL.txt"), "<missing>");
  EXPECT_TRUE(host.codes.empty());
  EXPECT_EQ(session.TakeVerdict().result, LoginSession::VerdictResult::None);
  EXPECT_FALSE(session.LoggedIn());

  EXPECT_EQ(session.Submit("ab", "\xF0\x9F\x98\x80").result,
            LoginSession::SubmitResult::InputRefused);
  EXPECT_EQ(FileBytes(dir, "DL.txt"), "<missing>");
}

TEST(LoginSessionTest, UnreadableVerdictIsReportedWithItsReason) {
  test::TempAppDir dir;
  test::RecordingHostLink host;
  LoginSession session(TxtDir(dir.Path()), host, /*debugMode=*/false);
  ASSERT_EQ(session.Submit("ab", "1234").result, LoginSession::SubmitResult::AwaitingVerdict);
  std::filesystem::remove(dir.Txt("DL.txt"));
  std::filesystem::create_symlink(dir.Txt("elsewhere.txt"), dir.Txt("DL.txt"));
  const auto verdict = session.TakeVerdict();
  EXPECT_EQ(verdict.result, LoginSession::VerdictResult::Unreadable);
  EXPECT_EQ(verdict.message, "DL.txt无法读取：它是一个链接，链接指向的文件不存在");
  EXPECT_FALSE(session.LoggedIn());
}

TEST(LoginSessionTest, UnwritableLoginFileIsNotSentOn) {
  test::RecordingHostLink host;
  for (bool debug : {false, true}) {
    LoginSession session(TxtDir("/nonexistent-orderlink-dir"), host, debug);
    EXPECT_EQ(session.Submit("ab", "1234").result, LoginSession::SubmitResult::NotWritten);
    EXPECT_FALSE(session.LoggedIn());
  }
  EXPECT_TRUE(host.codes.empty());
}

}  // namespace
}  // namespace orderlink
