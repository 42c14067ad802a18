// The serial line in service, with orderlink as a process on pseudo-terminals: the
// device hangs up (with message boxes switched on), comes back behind a symlinked
// port name, and a second program asks for the same port. In this process: work on
// the line ends when the device goes.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTreeWidget>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "app/Application.h"
#include "e2e/E2eSupport.h"

namespace orderlink::e2e {
namespace {

const std::string kLost = "message: 串口COM1已断开，正在等待重新连接…";
const std::string kBack = "message: 串口COM1已重新连接。";
const std::string kPollStart = test::Hex("00 00 00 C0 01");

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// True once a poll frame "00 00 00 C0 01 nn" arrives on `pty` within `ms`.
bool PollArrives(test::PtyPair& pty, int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  std::string seen;
  while (std::chrono::steady_clock::now() < end) {
    seen += pty.Read(100);
    const auto at = seen.find(kPollStart);
    if (at != std::string::npos && seen.size() >= at + 6) return true;
  }
  return false;
}

// Clock ticks of CPU time the process has used (user + system).
long CpuTicks(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  std::istringstream fields(line.substr(line.rfind(')') + 2));
  std::string field;
  long ticks = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14 || i == 15) ticks += std::stol(field);
  }
  return ticks;
}

class LineService : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(Bin("orderlink")))
      GTEST_SKIP() << "build the orderlink target first";
    dir.WriteGbk("基站.txt", "1 COM1\r\n");
    dir.WriteGbk("点菜机.txt", "001 1\r\n002 1\r\n");
  }

  // The program reaches `device` through a link of this test's own, as through a
  // /dev/serial/by-id name. Pseudo-terminal numbers are reused at once, so a program
  // that kept the bare device name could reopen another test's terminal after ours
  // went; unplugging removes the name first, as a pulled adapter does.
  std::string PortName(const std::string& device) {
    std::filesystem::create_symlink(device, portName);
    return portName;
  }
  void RemovePortName() { std::filesystem::remove(portName); }

  test::TempAppDir dir;
  const std::string portName = dir.Path() + "/com1";
};

// With message boxes on, a hung-up line once opened a box per event of the still
// readable handle, each in a nested event loop, until the stack ran out.
TEST_F(LineService, AHangUpWithMessageBoxesOnIsNoticedOnceAndTheProgramStaysQuietAndClosable) {
  auto pty = std::make_unique<test::PtyPair>();
  test::ChildProcess program(
      {Bin("orderlink"), "DEBUG"},
      {"ORDERLINK_APPDIR=" + dir.Path(), "ORDERLINK_COM1=" + PortName(pty->SlavePath()),
       "QT_QPA_PLATFORM=offscreen", "ORDERLINK_NONINTERACTIVE=0"});
  ASSERT_TRUE(PollArrives(*pty, 15000)) << program.Stderr();

  RemovePortName();
  pty.reset();  // the far end goes away
  ASSERT_TRUE(WaitForStderr(program, "message: 串口COM1已断开", 10000)) << program.Stderr();
  const long before = CpuTicks(program.Pid());
  EXPECT_FALSE(program.Wait(3000)) << "the program ended: " << program.Stderr();
  // A loop on the dead handle would take all of these three seconds; a quiet program
  // takes a few ticks (half the span leaves room for a loaded or instrumented build).
  EXPECT_LT(CpuTicks(program.Pid()) - before, 3 * sysconf(_SC_CLK_TCK) / 2);
  const std::string errors = program.Stderr();
  EXPECT_EQ(Count(errors, "message: "), 1u) << errors;
  EXPECT_EQ(Count(errors, kLost), 1u) << errors;

  program.Signal(SIGTERM);
  EXPECT_EQ(program.Wait(5000), 0);
}

TEST_F(LineService, ADeviceReplugBehindASymlinkedPortNameIsPolledAgain) {
  auto first = std::make_unique<test::PtyPair>();
  const std::string link = PortName(first->SlavePath());
  auto env = ProgramEnv(dir.Path(), link);
  test::ChildProcess program({Bin("orderlink"), "DEBUG"}, env);
  ASSERT_TRUE(PollArrives(*first, 15000)) << program.Stderr();

  // The new device exists before the old one goes, so it has another name.
  test::PtyPair second;
  ASSERT_NE(second.SlavePath(), first->SlavePath());
  const std::string oldDevice = first->SlavePath();
  RemovePortName();
  first.reset();  // unplugged: the slave hangs up and its node goes once the program lets go
  ASSERT_TRUE(WaitForStderr(program, kLost, 10000)) << program.Stderr();
  for (int i = 0; i < 100 && std::filesystem::exists(oldDevice); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_FALSE(std::filesystem::exists(oldDevice)) << "the program still holds the old device";
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // a try or two finds nothing
  EXPECT_EQ(program.Stderr().find(kBack), std::string::npos);

  // Plugged back: the by-id name points at the new device.
  std::filesystem::create_symlink(second.SlavePath(), link + ".new");
  std::filesystem::rename(link + ".new", link);
  EXPECT_TRUE(PollArrives(second, 5000)) << program.Stderr();
  EXPECT_TRUE(WaitForStderr(program, kBack, 1000)) << program.Stderr();
  const std::string errors = program.Stderr();
  EXPECT_EQ(Count(errors, kLost), 1u) << errors;
  EXPECT_EQ(Count(errors, kBack), 1u) << errors;

  program.Signal(SIGTERM);
  EXPECT_EQ(program.Wait(5000), 0);
}

TEST_F(LineService, ASecondProgramOnTheSamePortEndsAtStartAndTheFirstKeepsItsLine) {
  test::PtyPair pty;
  const auto env = ProgramEnv(dir.Path(), pty.SlavePath());
  test::ChildProcess first({Bin("orderlink"), "DEBUG"}, env);
  ASSERT_TRUE(PollArrives(pty, 15000)) << first.Stderr();

  test::ChildProcess second({Bin("orderlink"), "DEBUG"}, env);
  EXPECT_EQ(second.Wait(20000), 1);
  const std::string errors = second.Stderr();
  EXPECT_NE(errors.find("message: com1 not opend or thread not created. " + pty.SlavePath() + "（"),
            std::string::npos)
      << errors;
  EXPECT_NE(errors.find("串口已被另一个程序占用"), std::string::npos) << errors;

  (void)pty.Read(200);
  EXPECT_TRUE(PollArrives(pty, 3000)) << first.Stderr();
  EXPECT_EQ(first.Stderr().find("message: "), std::string::npos) << first.Stderr();
}

TEST_F(LineService, ARunningLinkTestStopsWhenTheDeviceGoesAndTheStatusLineSaysWhy) {
  auto station = std::make_unique<FakeStation>();  // never answers the test frames
  ScopedEnv env(
      {{"ORDERLINK_APPDIR", dir.Path()}, {"ORDERLINK_COM1", PortName(station->SlavePath())}});
  StderrCapture messages;
  std::string captionAfter;
  std::string statusAfter;
  RunApplication({"DEBUG"}, [&](Application&) {
    auto* tree = Find<QTreeWidget>("handsetTree");
    auto* start = Find<QPushButton>("startButton");
    auto* wait = Find<QLineEdit>("waitEdit");
    auto* status = Find<QStatusBar>("statusBar");
    ASSERT_TRUE(tree && start && wait && status);
    ASSERT_TRUE(station->WaitFor(0, IsPoll, 20000));
    tree->setCurrentItem(tree->topLevelItem(0)->child(1));
    wait->setText("600");
    start->click();
    ASSERT_EQ(start->text(), "停止测试");

    RemovePortName();
    station.reset();  // unplugged
    EXPECT_TRUE(WaitUntil([&] { return start->text() == "开始测试"; }, 10000));
    captionAfter = start->text().toStdString();
    statusAfter = status->currentMessage().toStdString();
  });
  EXPECT_EQ(captionAfter, "开始测试");
  EXPECT_EQ(statusAfter, "串口COM1已断开，正在等待重新连接…");
  EXPECT_EQ(Count(messages.Text(), kLost), 1u) << messages.Text();
}

}  // namespace
}  // namespace orderlink::e2e
