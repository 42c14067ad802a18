#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QTest>

#include "access/LoginForm.h"
#include "access/PasswordForm.h"
#include "common/TextFile.h"
#include "support/Processes.h"
#include "support/RecordingHostLink.h"
#include "support/RecordingMessages.h"

namespace orderlink {
namespace {

class LoginFormTest : public ::testing::Test {
 protected:
  explicit LoginFormTest(bool debug = false)
      : session(TxtDir(dir.Path()), host, debug),
        form(session, messages, &mainWindow, [this] { ++quits; }) {}

  test::TempAppDir dir;
  test::RecordingHostLink host;
  test::RecordingMessages messages;
  QWidget mainWindow;
  LoginSession session;
  LoginForm form;
  int quits = 0;
};

class DebugLoginFormTest : public LoginFormTest {
 protected:
  DebugLoginFormTest() : LoginFormTest(true) {}
};

TEST_F(DebugLoginFormTest, EnterMovesToThePasswordThenLogsIn) {
  form.show();
  QTest::keyClicks(form.userEdit, "ab");
  QTest::keyClick(form.userEdit, Qt::Key_Return);
  EXPECT_EQ(form.focusWidget(), form.passwordEdit);
  EXPECT_FALSE(std::filesystem::exists(dir.Txt("DL.txt")));

  QTest::keyClicks(form.passwordEdit, "1234");
  QTest::keyClick(form.passwordEdit, Qt::Key_Return);
  EXPECT_EQ(ReadFileBytes(dir.Txt("DL.txt")).value_or(""), "ab   1234    \r\n");
  EXPECT_TRUE(session.LoggedIn());
  EXPECT_FALSE(form.isVisible());
  EXPECT_TRUE(messages.Messages().empty()) << "no message in debug mode";
}

TEST_F(LoginFormTest, RefusedVerdictEmptiesTheFieldsAndKeepsTheForm) {
  form.show();
  form.userEdit->setText("ab");
  form.passwordEdit->setText("wrong");
  form.LogIn();
  dir.WriteGbk("DL.txt", "0\r\n");
  for (int i = 0; i < 100; ++i) form.LoginResult();  // a flood of notices: one refusal
  EXPECT_EQ(messages.Messages(), std::vector<std::string>{"用户名或密码错误，请重新登陆！"});
  EXPECT_TRUE(form.userEdit->text().isEmpty());
  EXPECT_TRUE(form.passwordEdit->text().isEmpty());
  EXPECT_EQ(form.focusWidget(), form.userEdit);
  EXPECT_TRUE(form.isVisible());

  dir.WriteGbk("DL.txt", "1\r\n");
  form.LoginResult();
  EXPECT_EQ(messages.Messages().back(), "登陆成功！");
  EXPECT_FALSE(form.isVisible());
  EXPECT_TRUE(session.LoggedIn());
}

TEST_F(LoginFormTest, TimerBringsTheFormUpUntilSomebodyLoggedIn) {
  EXPECT_FALSE(form.promptTimer->isActive()) << "disabled until the tray icon's double click";
  EXPECT_EQ(form.promptTimer->interval(), 500);
  form.promptTimer->start();
  form.PromptUntilLoggedIn();
  EXPECT_FALSE(form.isVisible()) << "the main window is not shown";

  mainWindow.show();
  form.PromptUntilLoggedIn();
  EXPECT_TRUE(form.isVisible());
  EXPECT_TRUE(form.isModal());
  form.close();
  form.PromptUntilLoggedIn();
  EXPECT_TRUE(form.isVisible()) << "closed without success: shown again";

  dir.WriteGbk("DL.txt", "1\r\n");
  form.LoginResult();
  form.PromptUntilLoggedIn();
  EXPECT_FALSE(form.promptTimer->isActive());
  EXPECT_FALSE(form.isVisible());
}

TEST_F(LoginFormTest, PastedLineBreakIsRefusedWithAMessage) {
  form.show();
  form.userEdit->setText("1\nzz");
  form.passwordEdit->setText("pw");
  QTest::mouseClick(form.loginButton, Qt::LeftButton);
  EXPECT_EQ(messages.Messages(),
            std::vector<std::string>{"用户名中不能有换行、制表符等控制字符，请重新输入！"});
  EXPECT_FALSE(std::filesystem::exists(dir.Txt("DL.txt")));
  EXPECT_TRUE(form.isVisible());
}

TEST_F(LoginFormTest, QuitRunsTheShutdown) {
  QTest::mouseClick(form.quitButton, Qt::LeftButton);
  EXPECT_EQ(quits, 1);
}

TEST(PasswordFormTest, EnterSavesThePaddedPassword) {
  test::TempAppDir dir;
  test::RecordingMessages messages;
  PasswordForm form(TxtDir(dir.Path()), messages);
  form.show();
  QTest::keyClicks(form.passwordEdit, "1234567890");
  EXPECT_EQ(form.passwordEdit->text(), "12345678") << "at most 8 bytes can be typed";
  form.passwordEdit->clear();
  QTest::keyClicks(form.passwordEdit, "123");
  QTest::keyClick(form.passwordEdit, Qt::Key_Return);
  EXPECT_EQ(ReadFileBytes(dir.Txt("管理员密码.txt")).value_or(""), "123     \r\n");
  EXPECT_EQ(form.result(), QDialog::Accepted);
  EXPECT_TRUE(messages.Messages().empty());

  // Opened again: the stored password is not on the screen; the file keeps it.
  form.show();
  EXPECT_TRUE(form.passwordEdit->text().isEmpty());
  EXPECT_EQ(form.focusWidget(), form.passwordEdit);
  EXPECT_EQ(ReadFileBytes(dir.Txt("管理员密码.txt")).value_or(""), "123     \r\n");
}

TEST(PasswordFormTest, ChineseCharactersCountTwoBytes) {
  test::RecordingMessages messages;
  PasswordForm form(TxtDir("/nonexistent-orderlink-dir"), messages);
  for (const QChar c : QString("张三李四王")) {
    QKeyEvent key(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QApplication::sendEvent(form.passwordEdit, &key);
  }
  EXPECT_EQ(form.passwordEdit->text(), "张三李四");
}

TEST(PasswordFormTest, CharacterWithoutGbkCodeIsRefusedNotStoredAsQuestionMark) {
  test::TempAppDir dir;
  test::RecordingMessages messages;
  PasswordForm form(TxtDir(dir.Path()), messages);
  form.show();
  for (const QString& typed : {QString("a"), QString("b"), QString::fromUtf8("😀")}) {
    QKeyEvent key(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, typed);
    QApplication::sendEvent(form.passwordEdit, &key);
  }
  EXPECT_EQ(form.passwordEdit->text(), QString::fromUtf8("ab😀"));
  QTest::keyClick(form.passwordEdit, Qt::Key_Return);
  EXPECT_EQ(messages.Messages(),
            std::vector<std::string>{"管理员密码中的字符“😀”不能用GBK保存，请删去它后重新输入！"});
  EXPECT_FALSE(std::filesystem::exists(dir.Txt("管理员密码.txt")));
  EXPECT_NE(form.result(), QDialog::Accepted);
}

TEST(PasswordFormTest, UnwritableFileIsReportedAndNotAccepted) {
  test::RecordingMessages messages;
  PasswordForm form(TxtDir("/nonexistent-orderlink-dir"), messages);
  form.show();
  form.passwordEdit->setText("123");
  form.Save();
  EXPECT_EQ(messages.Messages(),
            std::vector<std::string>{"管理员密码.txt文件无法写入，密码没有保存！"});
  EXPECT_TRUE(form.isVisible());
  EXPECT_NE(form.result(), QDialog::Accepted);
}

}  // namespace
}  // namespace orderlink
