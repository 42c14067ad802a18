// The settings file (checked line by line, read with QSettings) and the choice of
// the data folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/Settings.h"
#include "app/SettingsFileQt.h"
#include "support/Processes.h"

namespace orderlink {
namespace {

namespace fs = std::filesystem;

TEST(SettingsTextTest, AcceptsCommentsTheGeneralSectionAndEachKeyOnce) {
  const char* text =
      "# orderlink settings\r\n"
      "; another comment\n"
      "\n"
      "[General]\n"
      "  AppDir = /srv/restaurant  \n"
      "COM1=/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K1ABC-if00-port0\n"
      "COM9=/dev/ttyUSB1\n"
      "Trace=/var/tmp/line.pcapng";  // no line break at the end
  EXPECT_EQ(CheckSettingsText(text), std::nullopt);
  EXPECT_EQ(CheckSettingsText(""), std::nullopt);
  EXPECT_EQ(CheckSettingsText("\xEF\xBB\xBF"
                              "AppDir=/srv/restaurant\n"),
            std::nullopt);
}

TEST(SettingsTextTest, RefusesTheFirstBadLineWithItsNumberAndReason) {
  struct Case {
    std::string text;
    int line;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {"AppDir=/a\nCOM1 /dev/ttyUSB0\n", 2, "格式错误：“COM1 /dev/ttyUSB0”，应为 名称=值"},
      {"=/dev/ttyUSB0\n", 1, "格式错误"},
      {"# ok\nPort=/dev/ttyUSB0\n", 2, "未知的设置项“Port”"},
      {"com1=/dev/ttyUSB0\n", 1, "未知的设置项“com1”"},
      {"\n\nCOM10=/dev/ttyUSB0\n", 3, "串口编号“COM10”超出范围COM1～COM9"},
      {"COM0=/dev/ttyUSB0\n", 1, "串口编号“COM0”超出范围"},
      {"COMx=/dev/ttyUSB0\n", 1, "串口编号“COMx”超出范围"},
      {"AppDir=data\n", 1, "“AppDir”须为绝对路径（以/开头），而不是“data”"},
      {"Trace=\n", 1, "“Trace”没有值"},
      {"COM2=\"/dev/ttyUSB0\"\n", 1, "不能有引号"},
      {"COM2=/dev/a,b\n", 1, "不能有引号"},
      {"COM2=/dev/ttyUSB0 ; usb\n", 1, "不能有引号"},
      {"[ports]\nCOM1=/dev/ttyUSB0\n", 1, "未知的节“[ports]”"},
      {"COM1=/dev/ttyUSB0\r\nCOM1=/dev/ttyUSB1\r\n", 2, "“COM1”重复设置（第1行已设置）"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const auto fault = CheckSettingsText(c.text);
    ASSERT_TRUE(fault);
    EXPECT_EQ(fault->line, c.line);
    EXPECT_NE(fault->reason.find(c.reason), std::string::npos) << fault->reason;
  }
}

class SettingsFileTest : public ::testing::Test {
 protected:
  void Write(const std::string& text) const { std::ofstream(file, std::ios::binary) << text; }
  test::TempAppDir dir;
  fs::path file = fs::path(dir.Path()) / "orderlink.conf";
};

TEST_F(SettingsFileTest, ReadsTheCheckedValuesThroughQSettings) {
  Write(
      "\xEF\xBB\xBF# ports of the restaurant, saved with a byte order mark\n[General]\nCOM3 = "
      "/dev/serial/by-id/usb-1a86_串口-port0\n"
      "AppDir=/srv/点菜\nCOM1=/dev/ttyUSB0\nTrace=/var/tmp/line.pcapng\n");
  const SettingsFileResult result = LoadSettingsFile(file);
  ASSERT_EQ(result.error, "");
  EXPECT_EQ(result.settings.appDir, fs::path("/srv/点菜"));
  EXPECT_EQ(result.settings.traceFile, fs::path("/var/tmp/line.pcapng"));
  const std::map<int, std::string> expected = {{1, "/dev/ttyUSB0"},
                                               {3, "/dev/serial/by-id/usb-1a86_串口-port0"}};
  EXPECT_EQ(result.settings.comDevices, expected);
}

TEST_F(SettingsFileTest, AMissingFileIsNoSettingsAndABadOneNamesFileAndLine) {
  const SettingsFileResult missing = LoadSettingsFile(file);
  EXPECT_EQ(missing.error, "");
  EXPECT_FALSE(missing.settings.appDir);
  EXPECT_TRUE(missing.settings.comDevices.empty());

  Write("COM1=/dev/ttyUSB0\nCOM1=relative\n");
  EXPECT_EQ(LoadSettingsFile(file).error,
            "设置文件" + file.string() +
                "第2行：“COM1”须为绝对路径（以/开头），而不是“relative”。"
                "请改正或删除这一行，然后重新启动程序。");
}

TEST(AppDirTest, FirstMatchWinsEnvironmentSettingsProgramFolderUserData) {
  test::TempAppDir withTxt;  // holds TXT
  test::TempAppDir other;
  fs::remove_all(fs::path(other.Path()) / "TXT");
  AppDirSources sources{"/from/env", fs::path("/from/settings"), withTxt.Path(), "/user/data"};
  EXPECT_EQ(ChooseAppDir(sources).dir, "/from/env");
  sources.environment.clear();
  EXPECT_EQ(ChooseAppDir(sources).dir, "/from/settings");
  sources.settings.reset();
  EXPECT_EQ(ChooseAppDir(sources).dir, withTxt.Path());
  EXPECT_FALSE(ChooseAppDir(sources).userDataFallback);
  sources.executableDir = other.Path();  // no TXT beside the program
  EXPECT_EQ(ChooseAppDir(sources).dir, "/user/data");
  EXPECT_TRUE(ChooseAppDir(sources).userDataFallback);
}

TEST(AppDirTest, UserDataFolderIsMadeOnceWithAnEmptyTxtAndATellingMessage) {
  test::TempAppDir home;
  const fs::path appDir = fs::path(home.Path()) / "share" / "orderlink";
  const auto notice = PrepareUserDataDir(appDir);
  ASSERT_TRUE(notice);
  EXPECT_NE(notice->find((appDir / "TXT").string()), std::string::npos) << *notice;
  EXPECT_NE(notice->find("基站.txt、点菜机.txt"), std::string::npos) << *notice;
  EXPECT_TRUE(fs::is_directory(appDir / "TXT"));
  EXPECT_TRUE(fs::is_empty(appDir / "TXT"));
  EXPECT_EQ(PrepareUserDataDir(appDir), std::nullopt);

  std::ofstream(fs::path(home.Path()) / "plainfile") << "x";
  const auto failed = PrepareUserDataDir(fs::path(home.Path()) / "plainfile");
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->rfind("无法建立数据文件夹", 0), 0u) << *failed;
}

TEST(XdgBaseDirTest, UsesAnAbsoluteVariableElseTheHomeFallback) {
  const char* saved = std::getenv("XDG_STATE_HOME");
  const std::string restore = saved ? saved : "";
  setenv("XDG_STATE_HOME", "/var/state-here", 1);
  EXPECT_EQ(LogDir(), fs::path("/var/state-here/orderlink"));
  setenv("XDG_STATE_HOME", "relative/state", 1);  // the XDG rules say: ignore it
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  if (!home.empty() && home.front() == '/') {
    EXPECT_EQ(LogDir(), fs::path(home) / ".local/state/orderlink");
  }
  if (saved) {
    setenv("XDG_STATE_HOME", restore.c_str(), 1);
  } else {
    unsetenv("XDG_STATE_HOME");
  }
}

}  // namespace
}  // namespace orderlink
