// The built program's start as an installed program meets it: the command line
// without a display, the settings file, the data folder fallback, stamped stderr
// lines and the log file, the start-up log under systemd, a trace into a FIFO
// nobody reads. Each run gets XDG folders of its own.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

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

  // The environment of a run: its own XDG folders, no data folder or device from
  // outside, no boxes, not under systemd; then `extraEnv`.
  std::vector<std::string> Environment(std::vector<std::string> extraEnv) const {
    extraEnv.insert(
        extraEnv.begin(),
        {"ORDERLINK_APPDIR=", "ORDERLINK_COM1=", "ORDERLINK_NONINTERACTIVE=1", "JOURNAL_STREAM="});
    for (const char* base :
         {"XDG_CONFIG_HOME=config", "XDG_DATA_HOME=data", "XDG_STATE_HOME=state"}) {
      const std::string setting(base);
      const auto eq = setting.find('=');
      extraEnv.insert(extraEnv.begin(),
                      setting.substr(0, eq + 1) + home.Path() + "/" + setting.substr(eq + 1));
    }
    return extraEnv;
  }

  // Runs orderlink with `args` and `extraEnv` until it ends; returns its status.
  int Run(const std::vector<std::string>& args, std::vector<std::string> extraEnv = {}) {
    std::vector<std::string> argv = {ProgramPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    test::ChildProcess program(argv, Environment(std::move(extraEnv)));
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
  EXPECT_NE(stderrText.find(" error message: 设置文件" + ConfigFile().string() +
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
  // The message says where the device name came from.
  EXPECT_NE(stderrText.find("请检查设置文件" + ConfigFile().string() + "第3行的COM1"),
            std::string::npos)
      << stderrText;
}

TEST_F(ProgramStartTest, WithoutADataFolderItMakesOneAndLogsToTheStateFolder) {
  if (fs::exists(fs::path(ORDERLINK_BIN_DIR) / "TXT")) GTEST_SKIP() << "the build folder holds TXT";
  EXPECT_EQ(Run({"DEBUG"}, {"QT_QPA_PLATFORM=offscreen"}), 1);
  const fs::path txt = fs::path(home.Path()) / "data/orderlink/TXT";
  EXPECT_TRUE(fs::is_directory(txt));
  EXPECT_NE(stderrText.find("message: 已建立数据文件夹" + txt.string()), std::string::npos)
      << stderrText;
  // A start-up failure is an error, and names the folder it looked in.
  const std::string missing =
      " error message: 基站.txt文件不存在！（在" + txt.string() + "中查找）\n";
  EXPECT_NE(stderrText.find(missing), std::string::npos) << stderrText;

  // The log file holds the same stamped lines as stderr.
  const std::string log = ReadAll(fs::path(home.Path()) / "state/orderlink/orderlink.log");
  EXPECT_NE(log.find(missing), std::string::npos) << log;
  std::istringstream lines(stderrText);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_TRUE(std::regex_search(
        line, std::regex("^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:.+-]+ (debug|info|warning|error) ")))
        << line;
    EXPECT_NE(log.find(line + "\n"), std::string::npos) << line;
  }
}

TEST_F(ProgramStartTest, WithoutADisplayItSaysHowToRunHeadlessAndEndsWithStatusOne) {
  EXPECT_EQ(Run({"DEBUG"}, kNoDisplay), 1) << stderrText;
  EXPECT_NE(stderrText.find(" error no display found"), std::string::npos) << stderrText;
  EXPECT_NE(stderrText.find("QT_QPA_PLATFORM=offscreen"), std::string::npos) << stderrText;
}

// Waits until standard error holds `text`.
bool WaitForStderr(const test::ChildProcess& program, const std::string& text) {
  for (int i = 0; i < 300; ++i) {
    if (program.Stderr().find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

// A run in service under systemd: every stderr line carries the journal's priority
// and no time stamp, and the lines tell the whole set-up.
TEST_F(ProgramStartTest, UnderSystemdTheStartUpLogExplainsTheSetUpWithJournalPriorities) {
  test::PtyPair line;
  test::TempAppDir data;
  data.WriteGbk("基站.txt", "1 COM1\r\n");
  data.WriteGbk("点菜机.txt", "001 1\r\n002 2\r\n007 1\r\n");
  data.WriteGbk("T1.txt.q1w2e3r4.tmp", "half a record");  // a replace killed with -9
  const fs::path link = fs::path(home.Path()) / "usb-FTDI_FT232R-if00-port0";
  fs::create_symlink(line.SlavePath(), link);
  WriteSettings("# the installation\nAppDir=" + data.Path() +
                " # the restaurant\nCOM1=" + link.string() + "\n");
  test::ChildProcess program({ProgramPath(), "DEBUG"},
                             Environment({"QT_QPA_PLATFORM=offscreen", "JOURNAL_STREAM=8:4711"}));
  ASSERT_TRUE(WaitForStderr(program, "polling ")) << program.Stderr();
  program.Signal(SIGTERM);
  EXPECT_EQ(program.Wait(10000), 0);
  const std::string errors = program.Stderr();

  const std::string conf = ConfigFile().string();
  const std::string txt = data.Path() + "/TXT";
  for (const std::string& expected : {
           std::string("<6>info orderlink "),
           "<6>info settings file: " + conf + "\n",
           "<6>info data folder: " + txt + " (AppDir= in " + conf + " line 2)\n",
           "<4>warning removed " + txt + "/T1.txt.q1w2e3r4.tmp, ",
           "<6>info COM1: opened " + link.string() + " -> " + fs::canonical(link).string() +
               " (from COM1= in " + conf + " line 3), 19200 baud 8N1",
           std::string("<6>info DEBUG: no ordering software"),
           std::string("<6>info polling 2 handsets, 15 polls a second: 001 007\n"),
       }) {
    EXPECT_NE(errors.find(expected), std::string::npos) << expected << "\n" << errors;
  }
  EXPECT_FALSE(fs::exists(txt + "/T1.txt.q1w2e3r4.tmp"));
  std::istringstream lines(errors);
  for (std::string text; std::getline(lines, text);) {
    EXPECT_TRUE(std::regex_search(text, std::regex("^<[3467]>(debug|info|warning|error) ")))
        << text;
  }
  // The log file keeps its own time stamps.
  const std::string log = ReadAll(fs::path(home.Path()) / "state/orderlink/orderlink.log");
  EXPECT_TRUE(
      std::regex_search(log, std::regex("^[0-9]{4}-[0-9]{2}-[0-9]{2}T[^ ]+ info orderlink ")))
      << log;
}

// --trace at a FIFO that nobody reads: the start does not wait for a reader, says
// the trace is given up, serves the line, and ends at once on SIGTERM.
TEST_F(ProgramStartTest, ATraceIntoAFifoWithoutReaderIsGivenUpAndTheProgramRunsAndEnds) {
  test::PtyPair line;
  test::TempAppDir data;
  data.WriteGbk("基站.txt", "1 COM1\r\n");
  data.WriteGbk("点菜机.txt", "001 1\r\n");
  const std::string fifo = home.Path() + "/line.pcapng";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  test::ChildProcess program(
      {ProgramPath(), "--trace", fifo, "DEBUG"},
      Environment({"QT_QPA_PLATFORM=offscreen", "ORDERLINK_APPDIR=" + data.Path(),
                   "ORDERLINK_COM1=" + line.SlavePath()}));
  ASSERT_TRUE(WaitForStderr(program, "polling 1 handsets")) << program.Stderr();
  EXPECT_NE(program.Stderr().find("message: 帧记录文件" + fifo +
                                  "无法创建（it is a FIFO that no "
                                  "program reads"),
            std::string::npos)
      << program.Stderr();
  EXPECT_EQ(line.ReadAtLeast(6, 5000).size(), 6u) << "the handset is polled";
  program.Signal(SIGTERM);
  // A generous bound for a loaded machine; a blocked open() never ends at all.
  EXPECT_EQ(program.Wait(5000), 0) << program.Stderr();
  EXPECT_TRUE(fs::is_fifo(fifo)) << "the FIFO is neither renamed nor replaced";
}

}  // namespace
}  // namespace orderlink
