#include "Host.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "common/Gbk.h"
#include "common/TextFile.h"

namespace fs = std::filesystem;

namespace orderlink::hostsim {

namespace {

constexpr std::uint32_t kHostNotify = 1280;
constexpr std::uint32_t kWmClose = 16;

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

Host::Host(HostOptions options, const volatile std::sig_atomic_t& stopRequested)
    : options_(std::move(options)),
      stopRequested_(stopRequested),
      txt_(options_.appDir),
      startMs_(NowMs()),
      random_(options_.seed) {}

bool Host::Chance(double share) {
  return share > 0 && std::uniform_real_distribution<double>(0.0, 1.0)(random_) < share;
}

void Host::Event(std::int64_t atMs, const std::string& what) {
  if (events_ != nullptr)
    std::fprintf(events_, "%lld %s\n", static_cast<long long>(atMs), what.c_str());
}

void Host::Log(std::string line) {
  for (char& c : line) {
    if (static_cast<unsigned char>(c) < 0x20) c = '.';  // zero bytes of binary fields
  }
  std::fprintf(stderr, "hostsim %9.3f %s\n", static_cast<double>(NowMs() - startMs_) / 1000.0,
               line.c_str());
}

void Host::Problem(const std::string& line) {
  ++problems_;
  Log("problem: " + line);
}

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
  const auto content = ReadTxtBytes(txt_, "T1.txt");
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
  const std::string what = record->handset + " " + record->code;
  const std::int64_t now = NowMs();
  Event(now, "notify " + what);
  if (options_.ignoreEvery > 0 && requests_ % options_.ignoreEvery == 0) {
    ++ignored_;
    Log("request left unanswered on purpose");
    Event(now, "ignored " + what);
    return;
  }
  if (Chance(options_.silentShare)) {
    ++silent_;
    Log("request left unanswered on purpose (silent share)");
    Event(now, "silent " + what);
    return;
  }
  int delayMs = options_.replyDelayMs;
  if (options_.lateMs > 0 && Chance(options_.lateShare)) {
    ++late_;
    delayMs = options_.lateMs;
    Log("request answered " + std::to_string(delayMs) + " ms late on purpose");
    Event(now, "late " + what);
  }
  const bool rollCall = options_.rollCallEvery > 0 && requests_ % options_.rollCallEvery == 0;
  if (rollCall) ++rollCalls_;
  PendingAnswer answer{now + delayMs,
                       ReplyWriter(dishNames_).Reply(*record, rollCall ? "DM  " : ""), what,
                       Chance(options_.answerTwiceShare)};
  const auto at = std::find_if(answers_.begin(), answers_.end(),
                               [&](const PendingAnswer& a) { return a.dueMs > answer.dueMs; });
  answers_.insert(at, std::move(answer));
}

void Host::SendDueAnswers(std::int64_t nowMs) {
  while (!answers_.empty() && answers_.front().dueMs <= nowMs) {
    const PendingAnswer answer = std::move(answers_.front());
    answers_.pop_front();
    if (!WriteTxt("R1.txt", answer.reply)) continue;
    for (const auto& line : answer.reply) Log("  R1: " + GbkToUtf8(line));
    ++replies_;
    Post(kHostNotify, 1);
    Event(NowMs(), "reply " + answer.what);
    if (answer.twice) {
      ++answeredTwice_;
      Log("answered twice on purpose");
      Post(kHostNotify, 1);
      Event(NowMs(), "twice " + answer.what);
    }
  }
}

void Host::AnswerLogin() {
  ++logins_;
  const auto content = ReadTxtBytes(txt_, "DL.txt");
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
  const auto lines = ReadTxtLines(txt_, "点菜机.txt");
  const auto station = ReadTxtLines(txt_, "基站.txt");
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
  if (!options_.events.empty()) {
    events_ = std::fopen(options_.events.c_str(), "w");
    if (events_ == nullptr) {
      std::fprintf(stderr, "orderlink-hostsim: cannot write %s: %s\n", options_.events.c_str(),
                   std::strerror(errno));
      return 2;
    }
    std::setvbuf(events_, nullptr, _IOLBF, 0);
  }
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
    if ((stopRequested_ != 0 || timeUp) && closeAskedAt < 0) {
      closeAskedAt = now;
      Log(stopRequested_ != 0 ? "signal: asking the program to close"
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
    if (!closed_) SendDueAnswers(now);
    int waitMs = 50;
    if (!answers_.empty()) {
      waitMs = static_cast<int>(std::clamp<std::int64_t>(answers_.front().dueMs - now, 0, 50));
    }
    pollfd watch{socket_, POLLIN, 0};
    if (::poll(&watch, 1, waitMs) > 0 && (watch.revents & POLLIN) != 0) {
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
               "downloads=%d short_messages=%d wm_close=%d child_status=%d problems=%d "
               "late=%d answered_twice=%d silent=%d\n",
               notifications_, requests_, replies_, ignored_, rollCalls_, logins_, accepted_,
               downloads_, shortMessages_, closed_ ? 1 : 0, childStatus_, problems_, late_,
               answeredTwice_, silent_);
  std::fflush(stdout);
  if (events_ != nullptr) std::fclose(events_);
  const bool clean = closed_ && (!options_.launch || childStatus_ == 0) && problems_ == 0;
  return clean ? 0 : 1;
}

}  // namespace orderlink::hostsim
