// The built program as a process: on a pty pair through the real termios port, and
// beside a UDP socket standing in for the ordering software.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/AppTestSupport.h"
#include "link/FrameCodec.h"
#include "support/FakeSerialPort.h"

namespace orderlink {
namespace {

using test::LittleEndianMessage;

class Pty {
 public:
  Pty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    grantpt(master_);
    unlockpt(master_);
    slavePath_ = ptsname(master_);
    // Held open so that the master never reads a hang-up before the program opens
    // the slave, and set raw so that no byte is changed on its way.
    slave_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY);
    termios raw{};
    tcgetattr(slave_, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave_, TCSANOW, &raw);
  }
  ~Pty() {
    close(slave_);
    close(master_);
  }
  [[nodiscard]] const std::string& SlavePath() const { return slavePath_; }

  // Reads from the master until `count` bytes came or `timeoutMs` passed.
  std::string Read(std::size_t count, int timeoutMs) const {
    std::string bytes;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (bytes.size() < count && std::chrono::steady_clock::now() < deadline) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char buffer[256];
      const ssize_t n = read(master_, buffer, sizeof buffer);
      if (n > 0) bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return bytes;
  }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
};

class Program {
 public:
  Program(const std::vector<std::string>& args, const std::filesystem::path& appDir,
          const std::string& com1) {
    int err[2];
    if (pipe2(err, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(err[1], 2);
      setenv("ORDERLINK_APPDIR", appDir.c_str(), 1);
      setenv("ORDERLINK_COM1", com1.c_str(), 1);
      setenv("ORDERLINK_NONINTERACTIVE", "1", 1);
      setenv("QT_QPA_PLATFORM", "offscreen", 1);
      std::vector<char*> argv;
      std::string path = Path();
      argv.push_back(path.data());
      std::vector<std::string> copies = args;
      for (auto& a : copies) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(path.c_str(), argv.data());
      _exit(127);
    }
    close(err[1]);
    stderr_ = err[0];
  }
  ~Program() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (stderr_ >= 0) close(stderr_);
  }

  static std::string Path() { return std::string(ORDERLINK_BIN_DIR) + "/orderlink"; }
  void Signal(int number) const { kill(pid_, number); }

  // Waits at most `timeoutMs` for the program to end; its exit status, or -1.
  int WaitExit(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
      Drain();
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        Drain();
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
  }
  [[nodiscard]] const std::string& Stderr() const { return errors_; }

 private:
  void Drain() {
    pollfd p{stderr_, POLLIN, 0};
    char buffer[512];
    while (poll(&p, 1, 0) > 0 && (p.revents & POLLIN)) {
      const ssize_t n = read(stderr_, buffer, sizeof buffer);
      if (n <= 0) break;
      errors_.append(buffer, static_cast<std::size_t>(n));
    }
  }

  pid_t pid_ = -1;
  int stderr_ = -1;
  bool exited_ = false;
  std::string errors_;
};

class LineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(Program::Path())) GTEST_SKIP() << "build the orderlink target first";
  }
  test::AppDataDir dir;
  Pty pty;
};

TEST_F(LineTest, PollsTheConfiguredHandsetsInOrderAndEndsOnSigterm) {
  dir.Write("基站.txt", "1 COM1\r\n");
  dir.Write("点菜机.txt", "001 1\r\n007 1\r\n004 2\r\n012 1\r\n");
  Program program({"DEBUG"}, dir.Path(), pty.SlavePath());

  std::string expected;
  for (int number : {1, 7, 12, 1, 7, 12, 1}) expected += PollFrame(static_cast<std::uint8_t>(number));
  const std::string polled = pty.Read(expected.size(), 15000);
  EXPECT_EQ(test::ToHex(polled), test::ToHex(expected));

  program.Signal(SIGTERM);
  EXPECT_EQ(program.WaitExit(10000), 0);
  EXPECT_EQ(program.Stderr().find("message:"), std::string::npos) << program.Stderr();
}

TEST_F(LineTest, AnnouncesItselfToTheOrderingSoftwareAndSaysGoodbye) {
  dir.Write("基站.txt", "1 COM1\r\n");
  dir.Write("点菜机.txt", "001 1\r\n");
  test::HostPeer ordering;
  Program program({std::to_string(ordering.Port())}, dir.Path(), pty.SlavePath());

  const auto announce = ordering.Receive(15000);
  ASSERT_TRUE(announce);
  // The announcement carries the program's own port: the one it sends from.
  EXPECT_EQ(announce->bytes, LittleEndianMessage(1280, 0, announce->fromPort));

  // A stranger cannot close it: polling goes on afterwards.
  (void)pty.Read(1 << 20, 300);
  test::HostPeer stranger;
  stranger.SendTo(announce->fromPort, HostMessage{kCloseMessage, 0, 0});
  EXPECT_EQ(test::ToHex(pty.Read(12, 15000)), test::ToHex(PollFrame(1) + PollFrame(1)));

  program.Signal(SIGINT);
  const auto goodbye = ordering.Receive(10000);
  ASSERT_TRUE(goodbye);
  EXPECT_EQ(goodbye->bytes, LittleEndianMessage(16, 0, 0));
  EXPECT_EQ(goodbye->fromPort, announce->fromPort);
  EXPECT_EQ(program.WaitExit(10000), 0);
}

TEST_F(LineTest, AFatalStartEndsTheProgramByItself) {
  Program program({"DEBUG"}, dir.Path(), pty.SlavePath());
  EXPECT_EQ(program.WaitExit(15000), 1);  // a failed start is not a normal close
  EXPECT_NE(program.Stderr().find("message: 基站.txt文件不存在！\n"), std::string::npos)
      << program.Stderr();
}

}  // namespace
}  // namespace orderlink
