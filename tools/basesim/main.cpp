// orderlink-basesim: a base station with its handsets on the far end of the line.
// See Usage() for the options; the summary goes to stdout when it ends.

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BaseStation.h"
#include "Line.h"
#include "common/TextFile.h"

namespace {

using orderlink::basesim::BaseStation;
using orderlink::basesim::Fault;
using orderlink::basesim::FaultName;
using orderlink::basesim::StationLog;
using orderlink::basesim::StationOptions;

volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

constexpr double kByteUs = 520.0;  // one byte at 19200 baud, 10 bits

void Usage() {
  std::fputs(
      "usage: orderlink-basesim (--pty | --device PATH) [options]\n"
      "line:\n"
      "  --pty                    create a pseudo-terminal; first line of output: PTY <slave "
      "path>\n"
      "  --device PATH            use a serial device (19200 8N1)\n"
      "  --no-pacing              write as fast as the line takes it (default: 0.52 ms a byte)\n"
      "  --seconds N              end after N seconds (default: run until hang-up or signal)\n"
      "  --verbose                log every frame to stderr\n"
      "  --link PATH              keep a symbolic link PATH to the pty (give PATH to the "
      "program)\n"
      "  --events FILE            record timed events (requests, answers, losses, faults) in "
      "FILE,\n"
      "                           one \"<monotonic ms> <event>\" a line\n"
      "handsets:\n"
      "  --handsets LIST          handset numbers, e.g. 1,2,3 or 1-8 (default 1,2,3)\n"
      "  --seed N                 random seed (default 1)\n"
      "  --requests N             requests per handset, then silence (default: no limit)\n"
      "  --think-ms N             mean pause between a reply and the next request (default 500)\n"
      "  --answer-delay-ms N      radio delay before an answer (default 20)\n"
      "  --reply-timeout-ms N     a request without FHJS by then is lost (default 16000)\n"
      "  --time-query-rate R      share of header-only SJCX time queries (default 0.1)\n"
      "  --max-body N             body bytes per packet of a handset's message, 1..248 (default "
      "54)\n"
      "  --route HEX              route byte of the station's frames (default C0)\n"
      "  --dishes PATH            dish table whose codes orders use (default: sample codes)\n"
      "download:\n"
      "  --download-handsets LIST handsets that take part (default: all)\n"
      "  --fail-handsets LIST     handsets that answer XZSB\n"
      "  --record-loss R          share of broadcast records a handset misses (default 0)\n"
      "  --resend-loss R          share of re-sent records a handset misses (default 0)\n"
      "  --job-file PATH          join.txt to check every record against\n"
      "link test:\n"
      "  --echo-loss R            share of TXCS frames not answered (default 0)\n"
      "  --echo-corrupt R         share of TXCS answers with one byte changed (default 0)\n"
      "  --echo-delay-ms N        delay of a TXCS answer (default 30)\n"
      "station:\n"
      "  --config-switch          the configuration switch is set: answer FF 23 DC 55 AA\n"
      "faults:\n"
      "  --faults LIST            garbage,crc,sequence,address,split (bad packets),\n"
      "                           burst,late-station,vanish,duplicate (field faults of an "
      "answer),\n"
      "                           hangup (the line), or all\n"
      "  --fault-rate R           share of poll answers that carry a fault (default 0.2 with "
      "--faults)\n"
      "  --burst-bytes N          bytes of line noise in a burst (default 32)\n"
      "  --station-late-ms N      answer delay of a late station (default 400)\n"
      "  --vanish-ms N            how long a vanished handset stays away (default 20000)\n"
      "  --hangup-at LIST         hang up at these seconds after the start, e.g. 60,300\n"
      "  --hangup-every S         else hang up at random, on average every S seconds (default "
      "180)\n"
      "  --outage-ms N            the line is away this long after a hang-up (default 3000)\n"
      "                           (hangup needs --pty and --link: the new pty appears behind "
      "the link)\n"
      "The summary's \"lost:\" lines name each lost request's cause and whether the program "
      "is to blame\n"
      "(by=program) or the field (by=field: vanish, hangup, burst).\n"
      "  --version                show the version and end\n"
      "exit status: 0 clean, 1 the program broke a protocol rule (see stderr), 2 bad usage or "
      "line\n",
      stderr);
}

std::vector<std::uint8_t> ParseList(const std::string& text) {
  std::vector<std::uint8_t> out;
  std::stringstream stream(text);
  std::string item;
  while (std::getline(stream, item, ',')) {
    if (item.empty()) continue;
    const auto dash = item.find('-');
    const int first = std::stoi(item.substr(0, dash));
    const int last = dash == std::string::npos ? first : std::stoi(item.substr(dash + 1));
    if (first < 1 || last > 254 || first > last) throw std::invalid_argument("handset " + item);
    for (int n = first; n <= last; ++n) out.push_back(static_cast<std::uint8_t>(n));
  }
  return out;
}

// The fault kinds of a --faults list; `hangUp` is set for "hangup", which is the
// line's and not an answer's.
std::vector<Fault> ParseFaults(const std::string& text, bool* hangUp) {
  static const Fault kAnswerFaults[] = {Fault::Garbage,     Fault::Crc,    Fault::Sequence,
                                        Fault::Address,     Fault::Split,  Fault::Burst,
                                        Fault::LateStation, Fault::Vanish, Fault::Duplicate};
  std::vector<Fault> out;
  std::stringstream stream(text);
  std::string item;
  while (std::getline(stream, item, ',')) {
    if (item == "all") {
      out.assign(std::begin(kAnswerFaults), std::end(kAnswerFaults));
      *hangUp = true;
      continue;
    }
    if (item == "hangup") {
      *hangUp = true;
      continue;
    }
    const auto* kind = std::find_if(std::begin(kAnswerFaults), std::end(kAnswerFaults),
                                    [&](Fault f) { return item == FaultName(f); });
    if (kind == std::end(kAnswerFaults)) throw std::invalid_argument("fault " + item);
    out.push_back(*kind);
  }
  return out;
}

std::vector<double> ParseSeconds(const std::string& text) {
  std::vector<double> out;
  std::stringstream stream(text);
  std::string item;
  while (std::getline(stream, item, ',')) {
    if (!item.empty()) out.push_back(std::stod(item));
  }
  std::sort(out.begin(), out.end());
  return out;
}

// Points `link` at `target`, replacing what was there in one step.
bool PointLink(const std::string& link, const std::string& target, std::string* error) {
  const std::string fresh = link + ".new";
  ::unlink(fresh.c_str());
  if (::symlink(target.c_str(), fresh.c_str()) != 0 || ::rename(fresh.c_str(), link.c_str()) != 0) {
    *error = "cannot make the link " + link + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

std::int64_t NowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

class ConsoleLog final : public StationLog {
 public:
  ConsoleLog(bool verbose, std::int64_t startUs, std::FILE* events)
      : verbose_(verbose), startUs_(startUs), events_(events) {}
  void Info(const std::string& line) override {
    if (verbose_) Print(line);
  }
  void Problem(const std::string& line) override { Print("problem: " + line); }
  // What the simulator does on purpose; always shown.
  void Note(const std::string& line) { Print(line); }
  void Result(const std::string& line) override {
    std::fprintf(stdout, "%s\n", line.c_str());
    std::fflush(stdout);
  }
  void Event(std::int64_t atMs, const std::string& what) override {
    if (events_ != nullptr)
      std::fprintf(events_, "%lld %s\n", static_cast<long long>(atMs), what.c_str());
  }

 private:
  void Print(const std::string& line) {
    std::fprintf(stderr, "basesim %9.3f %s\n", static_cast<double>(NowUs() - startUs_) / 1e6,
                 line.c_str());
  }
  bool verbose_;
  std::int64_t startUs_;
  std::FILE* events_;
};

// When the line is to hang up next: at the times given, else at random around
// the mean interval. Nothing when hang-ups are off or the given times are used up.
class HangUpPlan {
 public:
  HangUpPlan(bool on, std::vector<double> atSeconds, double everySeconds, std::uint32_t seed)
      : on_(on), at_(std::move(atSeconds)), every_(everySeconds), random_(seed) {}
  [[nodiscard]] std::optional<std::int64_t> Next(std::int64_t startUs, std::int64_t afterUs) {
    if (!on_) return std::nullopt;
    if (!at_.empty() || given_) {
      given_ = true;
      while (next_ < at_.size()) {
        const auto us = startUs + static_cast<std::int64_t>(at_[next_++] * 1e6);
        if (us > afterUs) return us;
      }
      return std::nullopt;
    }
    const double factor = std::uniform_real_distribution<double>(0.5, 1.5)(random_);
    return afterUs + static_cast<std::int64_t>(every_ * factor * 1e6);
  }

 private:
  bool on_;
  std::vector<double> at_;
  double every_;
  std::mt19937 random_;
  bool given_ = false;
  std::size_t next_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  StationOptions options;
  options.handsets = {1, 2, 3};
  bool pty = false;
  bool pacing = true;
  bool verbose = false;
  bool faultRateGiven = false;
  double seconds = 0;
  std::string device;
  std::string jobFile;
  std::string linkPath;
  std::string eventsPath;
  bool hangUp = false;
  std::vector<double> hangUpAt;
  double hangUpEvery = 180;
  int outageMs = 3000;
  try {
    for (int i = 1; i < argc; ++i) {
      const std::string arg = argv[i];
      const auto value = [&]() -> std::string {
        if (i + 1 >= argc) throw std::invalid_argument(arg + " needs a value");
        return argv[++i];
      };
      if (arg == "--pty")
        pty = true;
      else if (arg == "--device")
        device = value();
      else if (arg == "--no-pacing")
        pacing = false;
      else if (arg == "--seconds")
        seconds = std::stod(value());
      else if (arg == "--verbose")
        verbose = true;
      else if (arg == "--link")
        linkPath = value();
      else if (arg == "--events")
        eventsPath = value();
      else if (arg == "--handsets")
        options.handsets = ParseList(value());
      else if (arg == "--seed")
        options.seed = static_cast<std::uint32_t>(std::stoul(value()));
      else if (arg == "--requests")
        options.requestLimit = std::stoi(value());
      else if (arg == "--think-ms")
        options.thinkMs = std::stoi(value());
      else if (arg == "--answer-delay-ms")
        options.answerDelayMs = std::stoi(value());
      else if (arg == "--reply-timeout-ms")
        options.replyTimeoutMs = std::stoi(value());
      else if (arg == "--time-query-rate")
        options.timeQueryRate = std::stod(value());
      else if (arg == "--max-body")
        options.maxBody = std::stoul(value());
      else if (arg == "--route")
        options.route = static_cast<std::uint8_t>(std::stoul(value(), nullptr, 16));
      else if (arg == "--dishes") {
        const auto lines = orderlink::ReadLines(value());
        if (!lines) throw std::invalid_argument("cannot read the dish table");
        options.dishCodes = orderlink::basesim::DishCodesOf(*lines);
      } else if (arg == "--download-handsets")
        options.downloadHandsets = ParseList(value());
      else if (arg == "--fail-handsets")
        options.failHandsets = ParseList(value());
      else if (arg == "--record-loss")
        options.recordLoss = std::stod(value());
      else if (arg == "--resend-loss")
        options.resendLoss = std::stod(value());
      else if (arg == "--job-file")
        jobFile = value();
      else if (arg == "--echo-loss")
        options.echoLoss = std::stod(value());
      else if (arg == "--echo-corrupt")
        options.echoCorrupt = std::stod(value());
      else if (arg == "--echo-delay-ms")
        options.echoDelayMs = std::stoi(value());
      else if (arg == "--config-switch")
        options.configSwitch = true;
      else if (arg == "--faults")
        options.faults = ParseFaults(value(), &hangUp);
      else if (arg == "--burst-bytes")
        options.burstBytes = std::stoul(value());
      else if (arg == "--station-late-ms")
        options.stationLateMs = std::stoi(value());
      else if (arg == "--vanish-ms")
        options.vanishMs = std::stoi(value());
      else if (arg == "--hangup-at")
        hangUpAt = ParseSeconds(value());
      else if (arg == "--hangup-every")
        hangUpEvery = std::stod(value());
      else if (arg == "--outage-ms")
        outageMs = std::stoi(value());
      else if (arg == "--fault-rate") {
        options.faultRate = std::stod(value());
        faultRateGiven = true;
      } else if (arg == "--version") {
        std::fputs("orderlink-basesim " ORDERLINK_VERSION "\n", stdout);
        return 0;
      } else if (arg == "--help" || arg == "-h") {
        Usage();
        return 0;
      } else {
        throw std::invalid_argument("unknown option " + arg);
      }
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "orderlink-basesim: %s\n", e.what());
    Usage();
    return 2;
  }
  if (pty == !device.empty()) {
    std::fputs("orderlink-basesim: give either --pty or --device PATH\n", stderr);
    Usage();
    return 2;
  }
  if (hangUp && (!pty || linkPath.empty())) {
    std::fputs("orderlink-basesim: the hangup fault needs --pty and --link PATH\n", stderr);
    return 2;
  }
  if (!linkPath.empty() && !pty) {
    std::fputs("orderlink-basesim: --link goes with --pty\n", stderr);
    return 2;
  }
  if (!options.faults.empty() && !faultRateGiven) options.faultRate = 0.2;
  std::FILE* events = nullptr;
  if (!eventsPath.empty()) {
    events = std::fopen(eventsPath.c_str(), "w");
    if (events == nullptr) {
      std::fprintf(stderr, "orderlink-basesim: cannot write %s: %s\n", eventsPath.c_str(),
                   std::strerror(errno));
      return 2;
    }
    std::setvbuf(events, nullptr, _IOLBF, 0);
  }
  if (!jobFile.empty()) {
    options.loadJobFile = [jobFile] { return orderlink::ReadLines(jobFile); };
  }

  std::string error;
  std::unique_ptr<orderlink::basesim::Line> line;
  if (pty) {
    std::string slave;
    line = orderlink::basesim::OpenPty(&slave, &error);
    if (line && !linkPath.empty() && !PointLink(linkPath, slave, &error)) line.reset();
    if (line) {
      std::fprintf(stdout, "PTY %s\n", slave.c_str());
      std::fflush(stdout);
    }
  } else {
    line = orderlink::basesim::OpenDevice(device, &error);
  }
  if (!line) {
    std::fprintf(stderr, "orderlink-basesim: %s\n", error.c_str());
    return 2;
  }

  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  const std::int64_t startUs = NowUs();
  ConsoleLog log(verbose, startUs, events);
  BaseStation station(options, log);
  std::int64_t lineFreeUs = 0;  // pacing: when the last byte written has left the line
  std::string endReason = "signal";
  int lineErrors = 0;
  HangUpPlan hangUps(hangUp, hangUpAt, hangUpEvery, options.seed);
  std::optional<std::int64_t> nextHangUpUs = hangUps.Next(startUs, startUs);
  std::int64_t backAtUs = 0;  // while the line is away: when it comes back

  while (g_stop == 0) {
    std::int64_t nowUs = NowUs();
    if (seconds > 0 && nowUs - startUs >= static_cast<std::int64_t>(seconds * 1e6)) {
      endReason = "time";
      break;
    }
    if (line && nextHangUpUs && nowUs >= *nextHangUpUs) {
      // As an adapter pulled out: the pty and its link go away, the program's end
      // hangs up.
      line.reset();
      ::unlink(linkPath.c_str());
      station.OnHangUp(nowUs / 1000);
      log.Note("line hung up on purpose (hangup fault) for " + std::to_string(outageMs) + " ms");
      backAtUs = nowUs + static_cast<std::int64_t>(outageMs) * 1000;
      nextHangUpUs = hangUps.Next(startUs, backAtUs);
    }
    if (!line) {
      if (nowUs < backAtUs) {
        std::this_thread::sleep_for(
            std::chrono::microseconds(std::min<std::int64_t>(backAtUs - nowUs, 100'000)));
        continue;
      }
      std::string slave;
      line = orderlink::basesim::OpenPty(&slave, &error);
      if (!line || !PointLink(linkPath, slave, &error)) {
        std::fprintf(stderr, "orderlink-basesim: %s\n", error.c_str());
        return 2;
      }
      station.OnLineBack(NowUs() / 1000);
      log.Note("line back after the hang-up: " + linkPath + " -> " + slave);
      continue;
    }
    // Write what is due, one frame at a time, at line speed.
    while (!pacing || nowUs >= lineFreeUs) {
      auto item = station.TakeDue(nowUs / 1000);
      if (!item) break;
      std::size_t bytes = 0;
      for (std::size_t c = 0; c < item->chunks.size(); ++c) {
        if (c > 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (!line->Write(item->chunks[c])) {
          ++lineErrors;
          log.Problem("write to the line failed");
        }
        bytes += item->chunks[c].size();
      }
      nowUs = NowUs();
      lineFreeUs = nowUs + static_cast<std::int64_t>(static_cast<double>(bytes) * kByteUs);
    }
    int timeoutMs = 100;
    if (const auto due = station.NextDue()) {
      std::int64_t waitUs = *due * 1000 - nowUs;
      if (pacing) waitUs = std::max(waitUs, lineFreeUs - nowUs);
      timeoutMs = static_cast<int>(std::clamp<std::int64_t>((waitUs + 999) / 1000, 0, 100));
    }
    pollfd watch{line->Fd(), POLLIN, 0};
    const int ready = ::poll(&watch, 1, timeoutMs);
    nowUs = NowUs();
    if (ready > 0 && (watch.revents & POLLIN) != 0) {
      std::string bytes;
      const bool open = line->Read(bytes);
      if (!bytes.empty()) station.OnBytes(bytes, nowUs / 1000);
      if (!open) {
        endReason = "hang-up";
        break;
      }
    } else if (ready > 0 && line->HungUp(watch.revents)) {
      endReason = "hang-up";
      break;
    }
    station.OnTick(nowUs / 1000);
  }
  station.OnTick(NowUs() / 1000 + 1000000);  // report a frame left incomplete
  if (!linkPath.empty()) ::unlink(linkPath.c_str());
  log.Result("end: reason=" + endReason);
  for (const auto& summary : station.Summary()) log.Result(summary);
  if (events != nullptr) std::fclose(events);
  if (lineErrors > 0) return 2;
  return station.Problems() == 0 ? 0 : 1;
}
