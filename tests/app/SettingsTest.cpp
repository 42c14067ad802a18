// The settings file (parsed once, line by line) and the choice of the data folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/Settings.h"
#include "link/SerialPort.h"
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
  EXPECT_EQ(ParseSettingsText(text).fault, std::nullopt);
  EXPECT_EQ(ParseSettingsText("").fault, std::nullopt);
  EXPECT_EQ(ParseSettingsText("\xEF\xBB\xBF"
                              "AppDir=/srv/restaurant\n")
                .fault,
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
      {"COM2=\"/dev/ttyUSB0\n", 1, "“COM2”的引号没有结束"},
      {"COM2=\"/dev/a\" b\n", 1, "“COM2”在结束的引号之后只能有注释"},
      {"AppDir= # nothing yet\n", 1, "“AppDir”没有值"},
      {"TraceMax=64MB\n", 1, "“TraceMax”应为字节数"},
      {"Verbose=maybe\n", 1, "“Verbose”应为yes或no"},
      {"[ports]\nCOM1=/dev/ttyUSB0\n", 1, "未知的节“[ports]”"},
      {"COM1=/dev/ttyUSB0\r\nCOM1=/dev/ttyUSB1\r\n", 2, "“COM1”重复设置（第1行已设置）"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const auto fault = ParseSettingsText(c.text).fault;
    ASSERT_TRUE(fault);
    EXPECT_EQ(fault->line, c.line);
    EXPECT_NE(fault->reason.find(c.reason), std::string::npos) << fault->reason;
  }
}

// Each value as the program uses it: comments after a blank cut off, every other
// character of a path kept, quotes for the rest.
TEST(SettingsTextTest, ValuesAreReadOnceAsDocumented) {
  struct Case {
    const char* line;
    std::optional<fs::path> appDir;
  } const cases[] = {
      {"AppDir=/x # note", "/x"},
      {"AppDir=/x\t# note", "/x"},
      {"AppDir=/x#1", "/x#1"},
      {"AppDir=/srv/a,b;c\\d\"e", "/srv/a,b;c\\d\"e"},
      {"AppDir=/srv/my data ", "/srv/my data"},
      {"AppDir=\"/srv/a # b \" # the one with a hash", "/srv/a # b "},
      {"AppDir=\"/srv/\"quoted\"\"", "/srv/\"quoted\""},
      {"AppDir=/点菜/数据", "/点菜/数据"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const SettingsText parsed = ParseSettingsText(std::string(c.line) + "\n");
    ASSERT_FALSE(parsed.fault) << parsed.fault->reason;
    EXPECT_EQ(parsed.settings.appDir, c.appDir);
  }
  const SettingsText parsed =
      ParseSettingsText("# ports\nCOM3=/dev/ttyUSB0 # bar\nTraceMax=16M\nVerbose=yes\n");
  ASSERT_FALSE(parsed.fault);
  EXPECT_EQ(parsed.settings.comDevices.at(3), "/dev/ttyUSB0");
  EXPECT_EQ(parsed.settings.lineOf.at("COM3"), 2);
  EXPECT_EQ(parsed.settings.traceMaxBytes, 16u << 20);
  EXPECT_TRUE(parsed.settings.verbose);
  EXPECT_EQ(ParseSettingsText("TraceMax=0\n").settings.traceMaxBytes, 0u);
  EXPECT_EQ(ParseSettingsText("").settings.traceMaxBytes, kDefaultTraceMaxBytes);
}

class SettingsFileTest : public ::testing::Test {
 protected:
  void Write(const std::string& text) const { std::ofstream(file, std::ios::binary) << text; }
  test::TempAppDir dir;
  fs::path file = fs::path(dir.Path()) / "orderlink.conf";
};

TEST_F(SettingsFileTest, ReadsTheValuesOfTheFile) {
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
  EXPECT_EQ(result.settings.file, file);
  EXPECT_EQ(result.settings.lineOf.at("COM3"), 3);
}

TEST_F(SettingsFileTest, TheSerialLinkOpensTheComDeviceTheFileNamesUnlessTheEnvironmentDoes) {
  Write("# ports\nCOM3=/dev/ttyUSB0\n");
  SetConfiguredComDevices(ComPortDevices(LoadSettingsFile(file).settings));
  const ComDevice configured = LookUpComDevice(3);
  EXPECT_EQ(configured.path, "/dev/ttyUSB0");
  EXPECT_EQ(configured.origin, "from COM3= in " + file.string() + " line 2");
  setenv("ORDERLINK_COM3", "/dev/ttyACM0", 1);
  EXPECT_EQ(ComDevicePath(3), "/dev/ttyACM0");
  unsetenv("ORDERLINK_COM3");
  EXPECT_EQ(ComDevicePath(4), "/dev/ttyS3");
  SetConfiguredComDevices({});
  EXPECT_EQ(ComDevicePath(3), "/dev/ttyS2");
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
  AppDirSources sources{"/from/env", fs::path("/from/settings"), withTxt.Path(), "/user/data",
                        "/etc/orderlink.conf line 4"};
  EXPECT_EQ(ChooseAppDir(sources).dir, "/from/env");
  sources.environment.clear();
  EXPECT_EQ(ChooseAppDir(sources).dir, "/from/settings");
  EXPECT_EQ(ChooseAppDir(sources).reason, "AppDir= in /etc/orderlink.conf line 4");
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
