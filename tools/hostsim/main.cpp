// orderlink-hostsim: stands in for the ordering software. Launches orderlink with its
// own UDP port, answers the program's notifications through the exchange files, and
// ends when the program posts WM_CLOSE. See Usage().

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <thread>

#include "HostLogic.h"
#include "common/Gbk.h"
#include "common/TextFile.h"
#include "common/TxtDir.h"

namespace fs = std::filesystem;
using namespace orderlink;
using namespace orderlink::hostsim;

namespace {

constexpr std::uint32_t kHostNotify = 1280;
constexpr std::uint32_t kWmClose = 16;

volatile std::sig_atomic_t g_signal = 0;
void OnSignal(int) { g_signal = 1; }

void Usage() {
  std::fputs(
      "usage: orderlink-hostsim --appdir DIR [options]\n"
      "  --appdir DIR               the program's directory (ORDERLINK_APPDIR); files in DIR/TXT\n"
      "  --program PATH             program to start (default: orderlink beside this tool)\n"
      "  --no-launch                start nothing; wait for a program started by hand\n"
      "  --port N                   own UDP port on 127.0.0.1 (default: chosen by the system)\n"
      "  --tables DIR               where the download tables come from (default: the samples)\n"
      "  --user NAME:PASSWORD       a user the login accepts (repeatable; default admin:8888)\n"
      "  --reply-delay-ms N         time taken to answer a request (default 50)\n"
      "  --download-delay-ms N      time taken to write the tables (default 200)\n"
      "  --roll-call-every N        answer every Nth request with a roll call (header DM)\n"
      "  --ignore-every N           leave every Nth request unanswered\n"
      "  --short-message-every SEC  write DX.txt and post code 0 every SEC seconds\n"
      "  --short-message-from N     sender of the short messages (default: first handset)\n"
      "  --short-message-to N       target of the short messages (default: next handset in turn)\n"
      "  --seconds N                after N seconds ask the program to close (SIGTERM)\n"
      "  --grace-ms N               wait for the program to exit after WM_CLOSE (default 5000)\n"
      "Every exchange is logged to stderr; a summary line goes to stdout at the end.\n"
      "exit status: 0 the program closed with WM_CLOSE and exit status 0, 1 otherwise, 2 bad "
      "usage\n",
      stderr);
}

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

struct Options {
  fs::path appDir;
  fs::path program;
  fs::path tables;
  bool launch = true;
  int port = 0;
  Users users;
  int replyDelayMs = 50;
  int downloadDelayMs = 200;
  int rollCallEvery = 0;
  int ignoreEvery = 0;
  double shortMessageEvery = 0;
  int shortFrom = 0;
  int shortTo = 0;
  double seconds = 0;
  int graceMs = 5000;
};

// The samples live in the source tree: <root>/samples/TXT beside <root>/build*/bin.
fs::path DefaultTables(const fs::path& self) {
  if (const char* env = std::getenv("ORDERLINK_SAMPLES")) return env;
  for (fs::path dir = self.parent_path(); !dir.empty() && dir != dir.root_path();
       dir = dir.parent_path()) {
    if (fs::is_directory(dir / "samples" / "TXT")) return dir / "samples" / "TXT";
  }
  return {};
}

class Host {
 public:
  explicit Host(Options options) : options_(std::move(options)), txt_(options_.appDir) {}

  int Run();

 private:
  void Log(std::string line) {
    for (char& c : line) {
      if (static_cast<unsigned char>(c) < 0x20) c = '.';  // zero bytes of binary fields
    }
    std::fprintf(stderr, "hostsim %9.3f %s\n", static_cast<double>(NowMs() - startMs_) / 1000.0,
                 line.c_str());
  }
  void Problem(const std::string& line) {
    ++problems_;
    Log("problem: " + line);
  }
  bool Bind();
  bool Launch();
  void Post(std::uint32_t message, std::int32_t code);
  void OnDatagram(const unsigned char* data, ssize_t size, const sockaddr_in& from);
  void OnNotify(std::int32_t code);
  void AnswerRequest();
  void AnswerLogin();
  void AnswerDownload();
  void SendShortMessage();
  bool WriteTxt(const std::string& name, const std::vector<std::string>& lines);
  void ReapChild(bool wait);

  Options options_;
  TxtDir txt_;
  int socket_ = -1;
  int ownPort_ = 0;
  int programPort_ = 0;
  pid_t child_ = -1;
  int childStatus_ = -1;
  std::int64_t startMs_ = NowMs();
  bool closed_ = false;
  int problems_ = 0;
  int notifications_ = 0, requests_ = 0, replies_ = 0, ignored_ = 0, rollCalls_ = 0;
  int logins_ = 0, accepted_ = 0, downloads_ = 0, shortMessages_ = 0;
  int shortTurn_ = 0;
  std::map<std::string, std::string> dishNames_;
};

bool Host::Bind() {
  socket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(options_.port));
  if (socket_ < 0 || ::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    std::fprintf(stderr, "orderlink-hostsim: cannot bind 127.0.0.1:%d: %s\n", options_.port,
                 std::strerror(errno));
    return false;
  }
  socklen_t length = sizeof address;
  ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length);
  ownPort_ = ntohs(address.sin_port);
  return true;
}

bool Host::Launch() {
  const std::string port = std::to_string(ownPort_);
  const std::string program = options_.program.string();
  const std::string appDir = options_.appDir.string();
  child_ = ::fork();
  if (child_ < 0) {
    std::fprintf(stderr, "orderlink-hostsim: fork failed: %s\n", std::strerror(errno));
    return false;
  }
  if (child_ == 0) {
    ::setenv("ORDERLINK_APPDIR", appDir.c_str(), 1);
    ::execl(program.c_str(), program.c_str(), port.c_str(), static_cast<char*>(nullptr));
    std::fprintf(stderr, "orderlink-hostsim: cannot start %s: %s\n", program.c_str(),
                 std::strerror(errno));
    ::_exit(127);
  }
  Log("started " + program + " " + port + " (pid " + std::to_string(child_) + ")");
  return true;
}

void Host::Post(std::uint32_t message, std::int32_t code) {
  if (programPort_ == 0) {
    Problem("cannot post code " + std::to_string(code) +
            ": the program has not announced its port");
    return;
  }
  unsigned char data[12] = {};
  const std::uint32_t fields[3] = {message, 0, static_cast<std::uint32_t>(code)};
  for (int f = 0; f < 3; ++f) {
    for (int b = 0; b < 4; ++b) data[f * 4 + b] = static_cast<unsigned char>(fields[f] >> (8 * b));
  }
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(static_cast<std::uint16_t>(programPort_));
  ::sendto(socket_, data, sizeof data, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  Log("posted HostNotify(0, " + std::to_string(code) + ")");
}

bool Host::WriteTxt(const std::string& name, const std::vector<std::string>& lines) {
  std::string bytes;
  for (const auto& line : lines) bytes += line + "\r\n";
  // Written whole and renamed into place: the program never reads half a file.
  if (!WriteFileAtomically(txt_.ForWrite(name), bytes)) {
    Problem("cannot write " + name + " in " + txt_.Path().string());
    return false;
  }
  return true;
}

void Host::OnDatagram(const unsigned char* data, ssize_t size, const sockaddr_in& from) {
  const int fromPort = ntohs(from.sin_port);
  if (from.sin_addr.s_addr != htonl(INADDR_LOOPBACK) || size != 12) {
    Problem("datagram of " + std::to_string(size) + " bytes from port " + std::to_string(fromPort) +
            " dropped");
    return;
  }
  const auto field = [&](int f) {
    return static_cast<std::uint32_t>(data[f * 4]) |
           static_cast<std::uint32_t>(data[f * 4 + 1]) << 8 |
           static_cast<std::uint32_t>(data[f * 4 + 2]) << 16 |
           static_cast<std::uint32_t>(data[f * 4 + 3]) << 24;
  };
  const std::uint32_t message = field(0);
  const std::uint32_t wParam = field(1);
  const auto lParam = static_cast<std::int32_t>(field(2));
  if (programPort_ == 0 && message == kHostNotify && lParam == fromPort) {
    programPort_ = fromPort;
    Log("program announced its port " + std::to_string(fromPort));
    return;
  }
  if (fromPort != programPort_) {
    Problem("datagram from port " + std::to_string(fromPort) + ", not the program's, dropped");
    return;
  }
  if (wParam != 0)
    Problem("message " + std::to_string(message) + " with wParam " + std::to_string(wParam));
  if (message == kWmClose) {
    Log("received WM_CLOSE");
    closed_ = true;
  } else if (message == kHostNotify) {
    OnNotify(lParam);
  } else {
    Problem("unknown message " + std::to_string(message));
  }
}

void Host::OnNotify(std::int32_t code) {
  ++notifications_;
  Log("received HostNotify(0, " + std::to_string(code) + ")");
  switch (code) {
    case 1:
      AnswerRequest();
      return;
    case 10:
      AnswerLogin();
      return;
    case 11:
      AnswerDownload();
      return;
    default:
      Problem("the program posted code " + std::to_string(code) + ", which it never sends");
  }
}

void Host::AnswerRequest() {
  ++requests_;
  const auto path = txt_.Find("T1.txt");
  const auto content = path ? ReadFileBytes(*path) : std::nullopt;
  if (!content) {
    Problem("code 1 but no T1.txt");
    return;
  }
  const auto record = ParseRequestRecord(*content);
  if (!record) {
    Problem("T1.txt does not begin with \"CODE HHH\": \"" + GbkToUtf8(content->substr(0, 40)) +
            "\"");
    return;
  }
  for (const auto& line : SplitLines(*content)) Log("  T1: " + GbkToUtf8(line));
  if (options_.ignoreEvery > 0 && requests_ % options_.ignoreEvery == 0) {
    ++ignored_;
    Log("request left unanswered on purpose");
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(options_.replyDelayMs));
  const bool rollCall = options_.rollCallEvery > 0 && requests_ % options_.rollCallEvery == 0;
  if (rollCall) ++rollCalls_;
  const auto reply = ReplyWriter(dishNames_).Reply(*record, rollCall ? "DM  " : "");
  if (!WriteTxt("R1.txt", reply)) return;
  for (const auto& line : reply) Log("  R1: " + GbkToUtf8(line));
  ++replies_;
  Post(kHostNotify, 1);
}

void Host::AnswerLogin() {
  ++logins_;
  const auto path = txt_.Find("DL.txt");
  const auto content = path ? ReadFileBytes(*path) : std::nullopt;
  if (!content) {
    Problem("code 10 but no DL.txt");
    return;
  }
  const bool ok = LoginAccepted(*content, options_.users);
  Log("login \"" + GbkToUtf8(SplitLines(*content).empty() ? "" : SplitLines(*content)[0]) + "\" " +
      (ok ? "accepted" : "refused"));
  if (ok) ++accepted_;
  if (WriteTxt("DL.txt", {ok ? "1" : "0"})) Post(kHostNotify, 10);
}

void Host::AnswerDownload() {
  ++downloads_;
  std::this_thread::sleep_for(std::chrono::milliseconds(options_.downloadDelayMs));
  int copied = 0;
  if (!options_.tables.empty()) {
    for (const auto& name : DownloadTableFiles()) {
      const fs::path source = options_.tables / fs::u8path(name);
      const auto bytes = ReadFileBytes(source);
      if (!bytes) continue;
      if (WriteFileAtomically(txt_.ForWrite(name), *bytes)) ++copied;
    }
  }
  Log("download: " + std::to_string(copied) + " tables written from " +
      (options_.tables.empty() ? std::string("nowhere (no --tables and no samples found)")
                               : options_.tables.string()));
  Post(kHostNotify, 11);
}

void Host::SendShortMessage() {
  static const char* const kTexts[] = {"3号桌客人催菜，请尽快上菜", "请到收银台结账",
                                       "厨房通知：清蒸鲈鱼已售完", "A012桌需要加两套餐具"};
  const auto lines = txt_.Find("点菜机.txt") ? ReadLines(*txt_.Find("点菜机.txt")) : std::nullopt;
  const auto station = txt_.Find("基站.txt") ? ReadLines(*txt_.Find("基站.txt")) : std::nullopt;
  const char stationNumber =
      station && !station->empty() && !(*station)[0].empty() ? (*station)[0][0] : '1';
  const std::vector<int> handsets = lines ? HandsetsOf(*lines, stationNumber) : std::vector<int>{};
  const int count = static_cast<int>(handsets.size());
  const int sender = options_.shortFrom > 0 ? options_.shortFrom : (count > 0 ? handsets[0] : 1);
  const int target = options_.shortTo > 0
                         ? options_.shortTo
                         : (count > 1 ? handsets[1 + shortTurn_ % (count - 1)] : sender);
  const std::string text = Utf8ToGbk(kTexts[shortTurn_ % 4]);
  ++shortTurn_;
  const std::string line = ShortMessageLine(sender, target, text);
  if (!WriteTxt("DX.txt", {line})) return;
  ++shortMessages_;
  Log("short message: DX.txt \"" + GbkToUtf8(line) + "\"");
  Post(kHostNotify, 0);
}

void Host::ReapChild(bool wait) {
  if (child_ <= 0) return;
  int status = 0;
  const pid_t done = ::waitpid(child_, &status, wait ? 0 : WNOHANG);
  if (done != child_) return;
  childStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  Log("program ended with status " + std::to_string(childStatus_));
  child_ = -1;
}

int Host::Run() {
  if (!Bind()) return 2;
  if (auto dishes = ReadLines(options_.tables / fs::u8path("菜品表.txt"));
      dishes && !options_.tables.empty()) {
    dishNames_ = DishNamesOf(*dishes);
  }
  Log("listening on 127.0.0.1:" + std::to_string(ownPort_) + ", files in " + txt_.Path().string());
  std::fprintf(stdout, "PORT %d\n", ownPort_);
  std::fflush(stdout);
  if (options_.launch && !Launch()) return 2;

  std::int64_t nextShort =
      options_.shortMessageEvery > 0
          ? NowMs() + static_cast<std::int64_t>(options_.shortMessageEvery * 1000)
          : -1;
  std::int64_t closeAskedAt = -1;
  std::int64_t closedAt = -1;
  bool killed = false;
  for (;;) {
    const std::int64_t now = NowMs();
    ReapChild(false);
    if (closed_ && closedAt < 0) closedAt = now;
    // The program ends after WM_CLOSE; give it the grace time, then end it.
    if (closedAt >= 0 && child_ <= 0) break;
    if (!options_.launch && closed_) break;
    if (child_ <= 0 && options_.launch) {
      if (!closed_) Problem("the program ended without WM_CLOSE");
      break;
    }
    const bool timeUp = options_.seconds > 0 &&
                        now - startMs_ >= static_cast<std::int64_t>(options_.seconds * 1000);
    if ((g_signal != 0 || timeUp) && closeAskedAt < 0) {
      closeAskedAt = now;
      Log(g_signal != 0 ? "signal: asking the program to close"
                        : "time is up: asking the program to close");
      if (child_ > 0) ::kill(child_, SIGTERM);
      if (!options_.launch) break;
    }
    const std::int64_t since = closedAt >= 0 ? closedAt : closeAskedAt;
    if (since >= 0 && child_ > 0 && now - since > options_.graceMs) {
      if (!killed) {
        Problem("the program did not end within " + std::to_string(options_.graceMs) +
                " ms; killing it");
        ::kill(child_, SIGKILL);
        killed = true;
      }
    }
    if (nextShort >= 0 && now >= nextShort && programPort_ != 0 && !closed_) {
      SendShortMessage();
      nextShort = now + static_cast<std::int64_t>(options_.shortMessageEvery * 1000);
    }
    pollfd watch{socket_, POLLIN, 0};
    if (::poll(&watch, 1, 50) > 0 && (watch.revents & POLLIN) != 0) {
      unsigned char data[64];
      sockaddr_in from{};
      socklen_t length = sizeof from;
      const ssize_t n =
          ::recvfrom(socket_, data, sizeof data, 0, reinterpret_cast<sockaddr*>(&from), &length);
      if (n >= 0) OnDatagram(data, n, from);
    }
  }
  ReapChild(true);
  std::fprintf(stdout,
               "summary: notifications=%d requests=%d replies=%d ignored=%d roll_calls=%d "
               "logins=%d accepted=%d "
               "downloads=%d short_messages=%d wm_close=%d child_status=%d problems=%d\n",
               notifications_, requests_, replies_, ignored_, rollCalls_, logins_, accepted_,
               downloads_, shortMessages_, closed_ ? 1 : 0, childStatus_, problems_);
  std::fflush(stdout);
  const bool clean = closed_ && (!options_.launch || childStatus_ == 0) && problems_ == 0;
  return clean ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  options.program = self.parent_path() / "orderlink";
  options.tables = DefaultTables(self);
  bool usersGiven = false;
  try {
    for (int i = 1; i < argc; ++i) {
      const std::string arg = argv[i];
      const auto value = [&]() -> std::string {
        if (i + 1 >= argc) throw std::invalid_argument(arg + " needs a value");
        return argv[++i];
      };
      if (arg == "--appdir")
        options.appDir = value();
      else if (arg == "--program")
        options.program = value();
      else if (arg == "--no-launch")
        options.launch = false;
      else if (arg == "--port")
        options.port = std::stoi(value());
      else if (arg == "--tables")
        options.tables = value();
      else if (arg == "--user") {
        const std::string user = value();
        const auto colon = user.find(':');
        if (colon == std::string::npos) throw std::invalid_argument("--user wants NAME:PASSWORD");
        options.users.emplace_back(Utf8ToGbk(user.substr(0, colon)),
                                   Utf8ToGbk(user.substr(colon + 1)));
        usersGiven = true;
      } else if (arg == "--reply-delay-ms")
        options.replyDelayMs = std::stoi(value());
      else if (arg == "--download-delay-ms")
        options.downloadDelayMs = std::stoi(value());
      else if (arg == "--roll-call-every")
        options.rollCallEvery = std::stoi(value());
      else if (arg == "--ignore-every")
        options.ignoreEvery = std::stoi(value());
      else if (arg == "--short-message-every")
        options.shortMessageEvery = std::stod(value());
      else if (arg == "--short-message-from")
        options.shortFrom = std::stoi(value());
      else if (arg == "--short-message-to")
        options.shortTo = std::stoi(value());
      else if (arg == "--seconds")
        options.seconds = std::stod(value());
      else if (arg == "--grace-ms")
        options.graceMs = std::stoi(value());
      else if (arg == "--help" || arg == "-h") {
        Usage();
        return 0;
      } else {
        throw std::invalid_argument("unknown option " + arg);
      }
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "orderlink-hostsim: %s\n", e.what());
    Usage();
    return 2;
  }
  if (options.appDir.empty()) {
    std::fputs("orderlink-hostsim: --appdir is required\n", stderr);
    Usage();
    return 2;
  }
  if (!usersGiven) options.users.emplace_back("admin", "8888");

  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  return Host(std::move(options)).Run();
}
