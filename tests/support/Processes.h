#pragma once
// Helpers for tests that drive the built programs as processes: a child process
// with captured output, a pseudo-terminal pair, and a UDP peer speaking the
// host-notification datagrams.

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orderlink::test {

// Full path of `program` on $PATH (ChildProcess does not search it), or "" when it
// is not installed.
[[nodiscard]] std::string FindProgram(const std::string& program);

class ChildProcess {
 public:
  // Starts argv[0] with the current environment plus `extraEnv` ("NAME=value").
  // Standard output is readable line by line; standard error goes to a file.
  ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv);
  ~ChildProcess();  // SIGTERM, then SIGKILL after 3 s; always reaped
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  [[nodiscard]] pid_t Pid() const { return pid_; }
  // Next line of standard output (without the line break), or nullopt on time-out / end.
  std::optional<std::string> ReadLine(int timeoutMs);
  // Everything written to standard error so far.
  [[nodiscard]] std::string Stderr() const;
  void Signal(int signal);
  // The exit status (or 128 + signal), or nullopt if still running after `timeoutMs`.
  std::optional<int> Wait(int timeoutMs);

 private:
  pid_t pid_ = -1;
  int stdoutFd_ = -1;
  std::string stdoutBuffer_;
  std::string stderrPath_;
  std::optional<int> status_;
};

class PtyPair {
 public:
  PtyPair();
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  [[nodiscard]] const std::string& SlavePath() const { return slavePath_; }
  [[nodiscard]] int Master() const { return master_; }
  // Everything that arrives on the master side within `ms`.
  std::string Read(int ms);
  // Reads until `bytes` holds at least `count` bytes or `ms` pass.
  std::string ReadAtLeast(std::size_t count, int ms);
  void Write(std::string_view bytes);

 private:
  int master_ = -1;
  int slaveKeepOpen_ = -1;  // keeps the line from hanging up before the program opens it
  std::string slavePath_;
};

struct Datagram {
  std::uint32_t message = 0;
  std::uint32_t wParam = 0;
  std::int32_t lParam = 0;
  std::uint16_t fromPort = 0;
};

class UdpPeer {
 public:
  UdpPeer();  // bound to 127.0.0.1 on a port from the system
  ~UdpPeer();
  UdpPeer(const UdpPeer&) = delete;
  UdpPeer& operator=(const UdpPeer&) = delete;

  [[nodiscard]] std::uint16_t Port() const { return port_; }
  std::optional<Datagram> Receive(int timeoutMs);
  void Send(std::uint16_t port, std::uint32_t message, std::uint32_t wParam, std::int32_t lParam);

  // Raw datagrams of any size, for checking the layout and sending malformed ones.
  struct RawDatagram {
    std::string bytes;
    std::uint16_t fromPort = 0;
  };
  std::optional<RawDatagram> ReceiveBytes(int timeoutMs);
  void SendBytes(std::uint16_t port, std::string_view bytes);

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
};

// A fresh directory with a TXT folder, removed with the object.
class TempAppDir {
 public:
  TempAppDir();
  ~TempAppDir();
  [[nodiscard]] const std::string& Path() const { return path_; }
  [[nodiscard]] std::string Txt(const std::string& name) const { return path_ + "/TXT/" + name; }
  // Writes a file into TXT from UTF-8 text converted to GBK.
  void WriteGbk(const std::string& name, const std::string& utf8) const;
  // Writes a file into TXT as GBK lines, each ended by CR LF; throws when it cannot.
  void WriteLines(const std::string& name, const std::vector<std::string>& gbkLines) const;
  [[nodiscard]] std::optional<std::string> Read(const std::string& name) const;

 private:
  std::string path_;
};

}  // namespace orderlink::test
