// The built program's start as an installed program meets it: the command line
// without a display, the settings file, the data folder fallback, stamped stderr
// lines and the log file. Each run gets XDG folders of its own.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "support/Processes.h"

namespace orderlink {
namespace {

namespace fs = std::filesystem;

std::string ProgramPath() { return std::string(ORDERLINK_BIN_DIR) + "/orderlink"; }

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class ProgramStartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(ProgramPath())) GTEST_SKIP() << "build the orderlink target first";
  }

  // Runs orderlink with `args` and `extraEnv` until it ends; returns its status.
  int Run(const std::vector<std::string>& args, std::vector<std::string> extraEnv = {}) {
    std::vector<std::string> argv = {ProgramPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    for (const char* base :
         {"XDG_CONFIG_HOME=config", "XDG_DATA_HOME=data", "XDG_STATE_HOME=state"}) {
      const std::string setting(base);
      const auto eq = setting.find('=');
      extraEnv.push_back(setting.substr(0, eq + 1) + home.Path() + "/" + setting.substr(eq + 1));
    }
    extraEnv.insert(extraEnv.end(),
                    {"ORDERLINK_APPDIR=", "ORDERLINK_COM1=", "ORDERLINK_NONINTERACTIVE=1"});
    test::ChildProcess program(argv, extraEnv);
    while (auto line = program.ReadLine(15000)) stdoutText += *line + "\n";
    const auto status = program.Wait(15000);
    stderrText = program.Stderr();
    return status.value_or(-1);
  }

  fs::path ConfigFile() const { return fs::path(home.Path()) / "config/orderlink/orderlink.conf"; }
  void WriteSettings(const std::string& text) const {
    fs::create_directories(ConfigFile().parent_path());
    std::ofstream(ConfigFile()) << text;
  }

  test::TempAppDir home;
  std::string stdoutText;
  std::string stderrText;
};

const std::vector<std::string> kNoDisplay = {"QT_QPA_PLATFORM=", "DISPLAY=", "WAYLAND_DISPLAY="};

TEST_F(ProgramStartTest, HelpAndVersionAnswerWithoutAnyDisplayWhereverTheyStand) {
  EXPECT_EQ(Run({"--help"}, kNoDisplay), 0) << stderrText;
  EXPECT_EQ(stdoutText.rfind("Usage: orderlink", 0), 0u) << stdoutText;
  EXPECT_NE(stdoutText.find("ORDERLINK_COM<n>"), std::string::npos);
  stdoutText.clear();
  EXPECT_EQ(Run({"12345", "--version"}, kNoDisplay), 0) << stderrText;
  EXPECT_TRUE(std::regex_match(stdoutText, std::regex("orderlink [0-9]+\\.[0-9]+(\\.[0-9]+)?\n")))
      << stdoutText;
  EXPECT_EQ(stderrText, "");
}

TEST_F(ProgramStartTest, AnUnknownOptionEndsWithStatusTwoAndAStampedReason) {
  EXPECT_EQ(Run({"DEBUG", "--bogus"}, kNoDisplay), 2);
  EXPECT_EQ(stdoutText, "");
  const std::regex stamped(
      "[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}[+-][0-9]{2}:[0-9]{2} error "
      "unknown option \"--bogus\" \\(orderlink --help lists the options\\)\n");
  EXPECT_TRUE(std::regex_match(stderrText, stamped)) << stderrText;
}

TEST_F(ProgramStartTest, ABadSettingsFileStopsTheStartNamingFileAndLine) {
  WriteSettings("# ports\nCOM12=/dev/ttyUSB0\n");
  EXPECT_EQ(Run({"DEBUG"}, {"QT_QPA_PLATFORM=offscreen"}), 1);
  EXPECT_NE(stderrText.find(" info message: 设置文件" + ConfigFile().string() +
                            "第2行：串口编号“COM12”超出范围COM1～COM9。"),
            std::string::npos)
      << stderrText;
}

TEST_F(ProgramStartTest, TheSettingsFileNamesTheDataFolderAndThePortDevice) {
  test::TempAppDir data;
  data.WriteGbk("基站.txt", "1 COM1\r\n");
  data.WriteGbk("点菜机.txt", "");
  const std::string device = home.Path() + "/no-such-adapter";
  WriteSettings("[General]\nAppDir=" + data.Path() + "\nCOM1=" + device + "\n");
  EXPECT_EQ(Run({"DEBUG"}, {"QT_QPA_PLATFORM=offscreen"}), 1);
  // 基站.txt was found in the settings' folder, and the port opened was the settings' device.
  EXPECT_EQ(stderrText.find("基站.txt文件不存在"), std::string::npos) << stderrText;
  EXPECT_NE(stderrText.find(device), std::string::npos) << stderrText;
  EXPECT_NE(stderrText.find("message: com1 not opend or thread not created."), std::string::npos)
      << stderrText;
}

TEST_F(ProgramStartTest, WithoutADataFolderItMakesOneAndLogsToTheStateFolder) {
  if (fs::exists(fs::path(ORDERLINK_BIN_DIR) / "TXT")) GTEST_SKIP() << "the build folder holds TXT";
  EXPECT_EQ(Run({"DEBUG"}, {"QT_QPA_PLATFORM=offscreen"}), 1);
  const fs::path txt = fs::path(home.Path()) / "data/orderlink/TXT";
  EXPECT_TRUE(fs::is_directory(txt));
  EXPECT_NE(stderrText.find("message: 已建立数据文件夹" + txt.string()), std::string::npos)
      << stderrText;
  EXPECT_NE(stderrText.find("message: 基站.txt文件不存在！\n"), std::string::npos) << stderrText;

  // The log file holds the same stamped lines as stderr.
  const std::string log = ReadAll(fs::path(home.Path()) / "state/orderlink/orderlink.log");
  EXPECT_NE(log.find(" info message: 基站.txt文件不存在！\n"), std::string::npos) << log;
  std::istringstream lines(stderrText);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_TRUE(std::regex_search(
        line, std::regex("^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:.+-]+ (debug|info|warning|error) ")))
        << line;
    EXPECT_NE(log.find(line + "\n"), std::string::npos) << line;
  }
}

}  // namespace
}  // namespace orderlink
