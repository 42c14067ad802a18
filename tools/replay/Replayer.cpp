#include "replay/Replayer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

#include "basesim/Line.h"
#include "common/Gbk.h"
#include "common/HostLink.h"
#include "common/TextFile.h"
#include "common/TxtDir.h"
#include "replay/FrameWords.h"

namespace fs = std::filesystem;

namespace orderlink::replay {

namespace {

using Kind = SessionEvent::Kind;

constexpr double kUnknown = -1;
constexpr int kQuietFlushMs = 30;      // bytes left in the frame splitter this long are a frame
constexpr double kPollEarlyMs = 40;    // a poll this much before its recorded moment still counts
constexpr double kCloseWaitMs = 5000;  // WM_CLOSE and the end after SIGTERM
constexpr double kLastWaitMaxMs = 2000;
constexpr double kPollPeriodMs = 66;
constexpr double kLineBackLeadMs = 500;

double NowMs() {
  return std::chrono::duration<double, std::milli>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string Ms(double ms) {
  return std::to_string(static_cast<long long>(std::llround(ms))) + " ms";
}

// Two frames are the same when their bytes are, but for the six time bytes of a
// time answer, which name the moment it was written.
bool SameFrame(const basesim::PcFrame& expected, const basesim::PcFrame& got) {
  const bool timeAnswer = expected.kind == basesim::PcFrame::Kind::Long &&
                          expected.code == "SJCX" && expected.body.size() == 6;
  if (!timeAnswer) return expected.raw == got.raw;
  return got.kind == expected.kind && got.code == expected.code &&
         got.raw.size() == expected.raw.size() &&
         got.raw.substr(0, got.raw.size() - 6) == expected.raw.substr(0, expected.raw.size() - 6);
}

// Two frames back to back that are not of one job: the first ended a job (a reply's
// "FHJS", a resend's "CCJS"), or the second opens one that a window timer posted (a
// download's broadcast "QBKS", its status queries "XZDM", its closing "QBJS"). The
// pause between them is where the timer stood when the other job ended, and is not
// compared; the pauses inside such a job (QBKS to QBKS, XZDM to XZDM) are.
bool StartsAJobOfItsOwn(const basesim::PcFrame& before, const basesim::PcFrame& frame) {
  if (before.code == "FHJS" || before.code == "CCJS") return true;
  return (frame.code == "QBKS" || frame.code == "XZDM" || frame.code == "QBJS") &&
         before.code != frame.code;
}

// The first line where two file contents differ, in words.
std::string FirstDifferentLine(const std::string& expected, const std::string& got) {
  const auto a = SplitLines(expected), b = SplitLines(got);
  for (std::size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
    const std::string ea = i < a.size() ? "\"" + GbkToUtf8(a[i]) + "\"" : "no line";
    const std::string gb = i < b.size() ? "\"" + GbkToUtf8(b[i]) + "\"" : "no line";
    if (ea != gb) return "line " + std::to_string(i + 1) + ": expected " + ea + ", got " + gb;
  }
  return "the same lines, other line ends (" + std::to_string(expected.size()) +
         " bytes expected, " + std::to_string(got.size()) + " got)";
}

class Run {
 public:
  Run(const Session& session, const ReplayOptions& options)
      : events_(session.events), session_(session), options_(options), txt_(fs::path()) {
    end_ = events_.size();
    for (std::size_t i = 0; i < events_.size(); ++i) {
      if (events_[i].kind == Kind::ProgramMessage &&
          events_[i].host.kind == SidecarEventKind::SentClose) {
        close_ = i;
        end_ = i + 1;  // what happens after WM_CLOSE is the shutdown's, not the session's
        break;
      }
    }
    actual_.assign(events_.size(), kUnknown);
    origin_ = events_.empty() ? 0 : events_.front().microseconds;
  }

  ReplayResult Go() {
    const double started = NowMs();
    if (Setup()) Loop();
    Finish();
    result_.seconds = (NowMs() - started) / 1000.0;
    return result_;
  }

 private:
  // ---------------------------------------------------------------- set-up
  bool Setup() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/orderlink-replay.XXXXXX";
    if (!::mkdtemp(pattern.data())) return SetupFailed("cannot make a work folder in " + pattern);
    work_ = pattern;
    txt_ = TxtDir(work_);
    std::error_code ec;
    fs::create_directories(txt_.Path(), ec);
    for (const auto& file : session_.startFiles) {
      if (file.bytes && !WriteFileBytes(txt_.Path() / file.name, *file.bytes))
        return SetupFailed("cannot write " + file.name + " in " + txt_.Path().string());
    }
    if (const std::string why = OpenLine(); !why.empty()) return SetupFailed(why);
    const fs::path device = LinePath();

    socket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (socket_ < 0 ||
        ::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      return SetupFailed(std::string("cannot bind a UDP socket on 127.0.0.1: ") +
                         std::strerror(errno));
    const std::string port = std::to_string(ntohs(address.sin_port));

    const std::string program = options_.program.string();
    const std::string log = (work_ / "orderlink.log").string();
    start_ = NowMs();
    child_ = ::fork();
    if (child_ < 0) return SetupFailed(std::string("fork failed: ") + std::strerror(errno));
    if (child_ == 0) {
      // A replay that is killed (a test's time-out) takes the program with it.
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      ::setenv("ORDERLINK_APPDIR", work_.c_str(), 1);
      for (int n = 1; n <= 9; ++n)
        ::setenv(("ORDERLINK_COM" + std::to_string(n)).c_str(), device.c_str(), 1);
      ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
      ::setenv("ORDERLINK_NONINTERACTIVE", "1", 1);
      ::setenv("ORDERLINK_UI_CONTROL", ControlPath().c_str(), 1);
      if (FILE* out = std::freopen(log.c_str(), "w", stderr)) ::dup2(::fileno(out), 1);
      ::execl(program.c_str(), program.c_str(), port.c_str(), static_cast<char*>(nullptr));
      std::fprintf(stderr, "cannot start %s: %s\n", program.c_str(), std::strerror(errno));
      ::_exit(127);
    }
    return true;
  }

  fs::path LinePath() const { return work_ / "line"; }

  // A new pseudo-terminal behind LinePath(), as an adapter plugged in; the reason
  // when it cannot be made.
  std::string OpenLine() {
    std::string slave, error;
    line_ = basesim::OpenPty(&slave, &error);
    if (!line_) return "cannot open a pseudo-terminal: " + error;
    std::error_code ec;
    fs::remove(LinePath(), ec);
    fs::create_symlink(slave, LinePath(), ec);
    if (ec) return "cannot link " + LinePath().string() + " to " + slave;
    lineOpen_ = true;
    return {};
  }

  // The adapter pulled: the device and its name go away.
  void CloseLine() {
    std::vector<basesim::PcFrame> frames;
    parser_.Flush(frames);  // a frame cut by the hang-up is not the program's
    line_.reset();
    lineOpen_ = false;
    std::error_code ec;
    fs::remove(LinePath(), ec);
  }

  bool SetupFailed(const std::string& why) {
    Differ("the replay could not start: " + why);
    result_.setupFailed = true;
    return false;
  }

  // ---------------------------------------------------------------- the loop
  void Loop() {
    input_ = NextInput(0);
    frameCursor_ = Next(Kind::ProgramFrame, 0);
    messageCursor_ = Next(Kind::ProgramMessage, 0);
    while (!done_) {
      const double now = NowMs();
      ReapChild();
      if (done_) break;
      if (!terminated_) SendDueInput(now);
      CheckOverdue(now);
      if (done_) break;
      if (parser_.Pending() && now - lastLineMs_ >= kQuietFlushMs) {
        std::vector<basesim::PcFrame> frames;
        parser_.Flush(frames);
        for (const auto& frame : frames) OnFrame(frame, now);
      }
      pollfd watch[2] = {{lineOpen_ ? line_->Fd() : -1, POLLIN, 0}, {socket_, POLLIN, 0}};
      const int lineWatch = lineOpen_ ? 0 : 1;
      const int timeout = 5;
      if (::poll(watch + lineWatch, static_cast<nfds_t>(2 - lineWatch), timeout) <= 0) continue;
      const double readAt = NowMs();
      if (lineOpen_ && watch[0].revents != 0) ReadLine(watch[0].revents, readAt);
      if ((watch[1].revents & POLLIN) != 0) ReadDatagrams(readAt);
    }
  }

  std::size_t Next(Kind kind, std::size_t from) const {
    while (from < end_ && events_[from].kind != kind) ++from;
    return from;
  }
  std::size_t NextInput(std::size_t from) const {
    while (from < end_ && !events_[from].IsInput()) ++from;
    return from;
  }
  std::size_t NextOutput() const { return std::min(frameCursor_, messageCursor_); }
  double Recorded(std::size_t i) const {
    return static_cast<double>(events_[i].microseconds - origin_) / 1000.0;
  }
  double GapMs(std::size_t from, std::size_t to) const { return Recorded(to) - Recorded(from); }

  // The latest event before `i` whose moment in this run is known.
  std::optional<std::size_t> KnownBefore(std::size_t i) const {
    while (i-- > 0) {
      if (actual_[i] != kUnknown) return i;
    }
    return std::nullopt;
  }
  // Moment in this run that recorded event `i` corresponds to, from the last known one.
  double Projected(std::size_t i, bool scaled) const {
    const auto known = KnownBefore(i);
    const double base = known ? actual_[*known] : start_;
    const double gap = known ? GapMs(*known, i) : 0;
    return base + (scaled ? gap / options_.speed : gap);
  }

  // When the next input may go; nullopt while it waits for a poll.
  std::optional<double> SendTime() {
    const std::size_t i = input_;
    if (i == 0) return start_;
    const std::size_t before = i - 1;
    double delay = GapMs(before, i) / options_.speed;
    // The program looks for a lost device on a clock of its own (about once a
    // second, not scaled by the speed): the device comes back a little before the
    // program found it in the recording, so that the same look finds it.
    if (events_[i].kind == Kind::LineBack)
      delay = std::max(0.0, GapMs(before, i) - kLineBackLeadMs);
    if (events_[before].kind != Kind::ProgramPoll) {
      if (actual_[before] == kUnknown) return Projected(i, true);
      return actual_[before] + delay;
    }
    // An answer to a poll: after the program's poll of the same handset that is due.
    const int handset = events_[before].frame.address;
    const double earliest = Projected(before, true) - kPollEarlyMs;
    for (std::size_t p = pollsUsed_; p < polls_.size(); ++p) {
      if (polls_[p].handset == handset && polls_[p].ms >= earliest) {
        pollChosen_ = p;
        actual_[before] = polls_[p].ms;
        return polls_[p].ms + delay;
      }
    }
    return std::nullopt;
  }

  void SendDueInput(double now) {
    while (input_ < end_ && NextOutput() > input_) {
      const auto at = SendTime();
      if (!at) return AwaitPoll(now);
      if (now < *at) return;
      const SessionEvent& event = events_[input_];
      if (event.kind == Kind::StationChunk) {
        if (!lineOpen_ || !line_->Write(event.chunk))
          return Differ("the line could not be written (the program closed it?)");
        Verbose("chunk " + std::to_string(event.packet) + " sent: " + HexBytes(event.chunk));
      } else if (event.kind == Kind::UserAction) {
        if (!SendUserAction(event.host.action, now)) return;
      } else if (event.kind == Kind::LineLost) {
        CloseLine();
        Verbose("the line hung up");
      } else if (event.kind == Kind::LineBack) {
        if (const std::string why = OpenLine(); !why.empty()) return Differ(why);
        Verbose("the line is back behind " + LinePath().string());
      } else {
        for (const auto& file : event.host.files) {
          if (file.bytes && !WriteFileAtomically(txt_.ForWrite(file.name), *file.bytes))
            return Differ("cannot write " + file.name + " for the ordering software");
        }
        Post(kHostNotifyMessage, event.host.code);
        Verbose("ordering software: " + MessageInWords(event.host));
      }
      if (pollChosen_) pollsUsed_ = *pollChosen_ + 1;
      pollChosen_.reset();
      actual_[input_] = now;
      input_ = NextInput(input_ + 1);
    }
  }

  // The input answers a poll the program has not written yet: it gets two rounds of
  // polls and the slack before that counts as a difference.
  void AwaitPoll(double now) {
    const std::size_t poll = input_ - 1;
    const double round = static_cast<double>(session_.polledHandsets.size()) * kPollPeriodMs;
    const double limit = 2 * round + options_.slackMs;
    if (now > Projected(poll, true) + limit) {
      Differ(Where(poll) + ": expected a poll of handset " +
             std::to_string(events_[poll].frame.address) +
             " (then the recorded answer), got none within " + Ms(limit));
    }
  }

  fs::path ControlPath() const { return work_ / "ui-control"; }

  // The action to the program's control socket; false while the program has not
  // made it yet (it does so once its windows exist), a difference after the slack.
  bool SendUserAction(const std::string& action, double now) {
    if (control_ < 0) control_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un to{};
    to.sun_family = AF_UNIX;
    const std::string path = ControlPath().string();
    std::memcpy(to.sun_path, path.c_str(), std::min(path.size(), sizeof to.sun_path - 1));
    if (control_ >= 0 && ::sendto(control_, action.data(), action.size(), 0,
                                  reinterpret_cast<sockaddr*>(&to), sizeof to) >= 0) {
      Verbose("user action: " + action);
      return true;
    }
    if (now - start_ > options_.slackMs)
      Differ("the user action \"" + action + "\" is due, but the program takes no actions on " +
             path + " (" + std::strerror(errno) + ")");
    return false;
  }

  void Post(std::uint32_t message, std::int32_t code) {
    if (programPort_ == 0)
      return Differ(
          "the ordering software's notification is due, but the program never announced its port");
    unsigned char data[12] = {};
    const std::uint32_t fields[3] = {message, 0, static_cast<std::uint32_t>(code)};
    for (int f = 0; f < 3; ++f)
      for (int b = 0; b < 4; ++b)
        data[f * 4 + b] = static_cast<unsigned char>(fields[f] >> (8 * b));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<std::uint16_t>(programPort_));
    ::sendto(socket_, data, sizeof data, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  }

  // The next expected output is overdue, or (all done) the program is asked to close.
  void CheckOverdue(double now) {
    const std::size_t o = NextOutput();
    if (o >= end_) {
      if (input_ >= end_ && !terminated_) {
        // Nothing left to do: end the program, as the recording ended.
        const auto known = KnownBefore(end_);
        if (now >= (known ? actual_[*known] : start_) + 500) Terminate(now);
      } else if (terminated_ && now - terminatedAt_ > kCloseWaitMs) {
        Differ("the program did not end within " + Ms(kCloseWaitMs) + " of SIGTERM");
      }
      return;
    }
    if (o > input_) return;  // an input comes first
    if (o == close_) {
      if (!terminated_) {
        const auto known = KnownBefore(o);
        const double base = known ? actual_[*known] : start_;
        const double wait = known ? std::min(GapMs(*known, o) / options_.speed, kLastWaitMaxMs) : 0;
        if (now >= base + wait) Terminate(now);
      } else if (now - terminatedAt_ > kCloseWaitMs) {
        Differ(Where(o) + ": expected WM_CLOSE after SIGTERM, got nothing within " +
               Ms(kCloseWaitMs));
      }
      return;
    }
    const double due = Projected(o, false) + options_.slackMs;
    if (now > due) {
      Differ(Where(o) + ": expected " + Expected(o) + ", got nothing within " +
             Ms(GapMs(*KnownBeforeOr(o), o) + options_.slackMs) + " of " +
             Description(*KnownBeforeOr(o)));
    }
  }
  std::optional<std::size_t> KnownBeforeOr(std::size_t i) const {
    auto known = KnownBefore(i);
    return known ? known : std::optional<std::size_t>(0);
  }

  void Terminate(double now) {
    terminated_ = true;
    terminatedAt_ = now;
    Verbose("asking the program to close (SIGTERM)");
    ::kill(child_, SIGTERM);
  }

  // ---------------------------------------------------------------- the line
  void ReadLine(short revents, double now) {
    std::string bytes;
    const bool open = line_->Read(bytes);
    if (!bytes.empty()) {
      lastLineMs_ = now;
      std::vector<basesim::PcFrame> frames;
      parser_.Feed(bytes, frames);
      for (const auto& frame : frames) {
        OnFrame(frame, now);
        if (done_) return;
      }
    }
    if (!open || line_->HungUp(revents)) {
      lineOpen_ = false;
      if (!terminated_) Differ("the program closed the line before the session's end");
    }
  }

  void OnFrame(const basesim::PcFrame& frame, double now) {
    if (done_) return;
    if (frame.kind == basesim::PcFrame::Kind::Poll) {
      ++result_.polls;
      if (!session_.polledHandsets.contains(frame.address))
        return Differ("the program polled handset " + std::to_string(frame.address) +
                      ", which the recording never polls");
      polls_.push_back({now, frame.address});
      return;
    }
    if (frameCursor_ >= end_) {
      if (terminated_) return;  // frames of the shutdown are not the session's
      return Differ("a frame after the recording's last one: got " + FrameInWords(frame));
    }
    const std::size_t i = frameCursor_;
    const SessionEvent& expected = events_[i];
    if (!SameFrame(expected.frame, frame)) {
      return Differ(Where(i) + ": expected " + FrameInWords(expected.frame) + ", got " +
                    FrameInWords(frame));
    }
    if (i > 0 && events_[i - 1].kind == Kind::ProgramFrame && actual_[i - 1] != kUnknown &&
        !StartsAJobOfItsOwn(events_[i - 1].frame, expected.frame)) {
      ++result_.pausesChecked;
      const double recorded = GapMs(i - 1, i);
      const double got = now - actual_[i - 1];
      if (std::fabs(got - recorded) > options_.toleranceMs) {
        result_.pauseOnly = true;
        return Differ(Where(i) + ": the pause before it was " + Ms(recorded) +
                      " in the recording and " + Ms(got) + " now (tolerance ±" +
                      std::to_string(options_.toleranceMs) +
                      " ms); the frame: " + FrameInWords(frame));
      }
    }
    ++result_.framesCompared;
    actual_[i] = now;
    Verbose("frame " + std::to_string(expected.packet) + " matched: " + FrameInWords(frame));
    frameCursor_ = Next(Kind::ProgramFrame, i + 1);
  }

  // ---------------------------------------------------------------- datagrams
  void ReadDatagrams(double now) {
    for (;;) {
      unsigned char data[64];
      sockaddr_in from{};
      socklen_t length = sizeof from;
      const ssize_t n =
          ::recvfrom(socket_, data, sizeof data, 0, reinterpret_cast<sockaddr*>(&from), &length);
      if (n < 0) return;
      if (n != 12 || from.sin_addr.s_addr != htonl(INADDR_LOOPBACK)) continue;
      const auto field = [&](int f) {
        return static_cast<std::uint32_t>(data[f * 4]) |
               static_cast<std::uint32_t>(data[f * 4 + 1]) << 8 |
               static_cast<std::uint32_t>(data[f * 4 + 2]) << 16 |
               static_cast<std::uint32_t>(data[f * 4 + 3]) << 24;
      };
      const int fromPort = ntohs(from.sin_port);
      SidecarEvent got;
      const std::uint32_t message = field(0);
      const auto code = static_cast<std::int32_t>(field(2));
      if (programPort_ == 0 && message == kHostNotifyMessage && code == fromPort) {
        programPort_ = fromPort;
        got.kind = SidecarEventKind::SentAnnounce;
      } else if (fromPort != programPort_) {
        continue;
      } else if (message == kCloseMessage) {
        got.kind = SidecarEventKind::SentClose;
        if (close_ == kNoClose) continue;  // the recording has none
      } else {
        got.kind = SidecarEventKind::SentNotify;
        got.code = code;
      }
      OnMessage(got, now);
      if (done_) return;
    }
  }

  void OnMessage(const SidecarEvent& got, double now) {
    if (messageCursor_ >= end_) {
      if (terminated_ && got.kind != SidecarEventKind::SentClose) return;
      return Differ("a datagram after the recording's last one: got " + MessageInWords(got));
    }
    const std::size_t i = messageCursor_;
    const SidecarEvent& expected = events_[i].host;
    if (expected.kind != got.kind || expected.code != got.code)
      return Differ(Where(i) + ": expected " + MessageInWords(expected) + ", got " +
                    MessageInWords(got));
    for (const auto& file : expected.files) {
      const auto now_bytes = ReadTxtBytes(txt_, file.name);
      const std::optional<std::string> have =
          now_bytes ? std::optional<std::string>(*now_bytes) : std::nullopt;
      ++result_.filesCompared;
      if (have == file.bytes) continue;
      if (!have)
        return Differ(Where(i) + ": " + MessageInWords(got) + " came without " + file.name);
      if (!file.bytes)
        return Differ(Where(i) + ": " + file.name + " exists, the recording had none");
      return Differ(Where(i) + ": " + MessageInWords(got) + " with " + file.name +
                    " that differs at " + FirstDifferentLine(*file.bytes, *have));
    }
    ++result_.messagesCompared;
    actual_[i] = now;
    Verbose("datagram matched: " + MessageInWords(got));
    messageCursor_ = Next(Kind::ProgramMessage, i + 1);
  }

  // ---------------------------------------------------------------- the end
  void ReapChild() {
    if (child_ <= 0) return;
    int status = 0;
    if (::waitpid(child_, &status, WNOHANG) != child_) return;
    child_ = -1;
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (!terminated_)
      return Differ("orderlink ended (status " + std::to_string(code) +
                    ") before the session's end; its log: " + (work_ / "orderlink.log").string());
    if (code != 0)
      return Differ("orderlink ended with status " + std::to_string(code) + " after SIGTERM");
    if (NextOutput() < end_)
      return Differ(Where(NextOutput()) + ": expected " + Expected(NextOutput()) +
                    ", but the program ended");
    CompareFiles();
    if (!done_) {
      result_.match = true;
      done_ = true;
    }
  }

  void CompareFiles() {
    for (const auto& file : session_.expectedFiles) {
      ++result_.filesCompared;
      const auto have = ReadTxtBytes(txt_, file.name);
      if (!have)
        return Differ("file " + file.name + ": the recording has it, the program wrote none");
      if (*have != *file.bytes)
        return Differ("file " + file.name + " differs from expected/" + file.name + " at " +
                      FirstDifferentLine(*file.bytes, *have));
    }
  }

  void Finish() {
    if (child_ > 0) {
      ::kill(child_, SIGKILL);
      ::waitpid(child_, nullptr, 0);
    }
    line_.reset();
    if (socket_ >= 0) ::close(socket_);
    if (control_ >= 0) ::close(control_);
    if (!work_.empty()) {
      if (result_.match && !options_.keep) {
        std::error_code ec;
        fs::remove_all(work_, ec);
      } else {
        result_.workDir = work_;
      }
    }
  }

  // ---------------------------------------------------------------- words
  std::string Where(std::size_t i) const {
    const SessionEvent& event = events_[i];
    char at[32];
    std::snprintf(at, sizeof at, "%.3f s", Recorded(i) / 1000.0);
    if (event.kind == Kind::ProgramMessage)
      return "datagram to the ordering software (recorded at " + std::string(at) + ")";
    return "frame " + std::to_string(event.packet) + " (recorded at " + at + ")";
  }
  std::string Expected(std::size_t i) const {
    const SessionEvent& event = events_[i];
    return event.kind == Kind::ProgramMessage ? MessageInWords(event.host)
                                              : FrameInWords(event.frame);
  }
  std::string Description(std::size_t i) const {
    const SessionEvent& event = events_[i];
    switch (event.kind) {
      case Kind::ProgramFrame:
      case Kind::ProgramPoll:
        return "frame " + std::to_string(event.packet);
      case Kind::StationChunk:
        return "chunk " + std::to_string(event.packet) + " from the line";
      case Kind::ProgramMessage:
        return "the program's " + MessageInWords(event.host);
      case Kind::HostMessage:
        return "the ordering software's " + MessageInWords(event.host);
      case Kind::UserAction:
      case Kind::LineLost:
      case Kind::LineBack:
        return "the " + MessageInWords(event.host);
    }
    return "";
  }

  void Differ(const std::string& text) {
    if (done_) return;
    done_ = true;
    result_.match = false;
    result_.difference = text;
  }
  void Verbose(const std::string& text) const {
    if (options_.verbose)
      std::fprintf(stderr, "replay %9.3f %s\n", (NowMs() - start_) / 1000.0, text.c_str());
  }

  static constexpr std::size_t kNoClose = static_cast<std::size_t>(-1);
  struct Poll {
    double ms;
    int handset;
  };

  const std::vector<SessionEvent>& events_;
  const Session& session_;
  const ReplayOptions& options_;
  std::size_t end_ = 0;
  std::size_t close_ = kNoClose;
  std::uint64_t origin_ = 0;
  std::vector<double> actual_;  // this run's moment of each recorded event (ms), or kUnknown

  fs::path work_;
  TxtDir txt_;
  std::unique_ptr<basesim::Line> line_;
  bool lineOpen_ = true;
  basesim::PcFrameParser parser_;
  double lastLineMs_ = 0;
  int socket_ = -1;
  int control_ = -1;  // to the program's ORDERLINK_UI_CONTROL socket
  int programPort_ = 0;
  pid_t child_ = -1;
  double start_ = 0;
  bool terminated_ = false;
  double terminatedAt_ = 0;

  std::size_t input_ = 0, frameCursor_ = 0, messageCursor_ = 0;
  std::vector<Poll> polls_;
  std::size_t pollsUsed_ = 0;
  std::optional<std::size_t> pollChosen_;

  bool done_ = false;
  ReplayResult result_;
};

}  // namespace

ReplayResult Replay(const Session& session, const ReplayOptions& options) {
  return Run(session, options).Go();
}

}  // namespace orderlink::replay
