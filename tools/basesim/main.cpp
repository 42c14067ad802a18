// orderlink-basesim: a base station with its handsets on the far end of the line.
// See Usage() for the options; the summary goes to stdout when it ends.

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>

#include "BaseStation.h"
#include "Line.h"
#include "common/TextFile.h"

namespace {

using orderlink::basesim::BaseStation;
using orderlink::basesim::Fault;
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
      "  --faults LIST            garbage,crc,sequence,address,split\n"
      "  --fault-rate R           share of poll answers that carry a fault (default 0.2 with "
      "--faults)\n"
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

std::vector<Fault> ParseFaults(const std::string& text) {
  std::vector<Fault> out;
  std::stringstream stream(text);
  std::string item;
  while (std::getline(stream, item, ',')) {
    if (item == "garbage")
      out.push_back(Fault::Garbage);
    else if (item == "crc")
      out.push_back(Fault::Crc);
    else if (item == "sequence")
      out.push_back(Fault::Sequence);
    else if (item == "address")
      out.push_back(Fault::Address);
    else if (item == "split")
      out.push_back(Fault::Split);
    else
      throw std::invalid_argument("fault " + item);
  }
  return out;
}

std::int64_t NowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

class ConsoleLog final : public StationLog {
 public:
  ConsoleLog(bool verbose, std::int64_t startUs) : verbose_(verbose), startUs_(startUs) {}
  void Info(const std::string& line) override {
    if (verbose_) Print(line);
  }
  void Problem(const std::string& line) override { Print("problem: " + line); }
  void Result(const std::string& line) override {
    std::fprintf(stdout, "%s\n", line.c_str());
    std::fflush(stdout);
  }

 private:
  void Print(const std::string& line) {
    std::fprintf(stderr, "basesim %9.3f %s\n", static_cast<double>(NowUs() - startUs_) / 1e6,
                 line.c_str());
  }
  bool verbose_;
  std::int64_t startUs_;
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
        options.faults = ParseFaults(value());
      else if (arg == "--fault-rate") {
        options.faultRate = std::stod(value());
        faultRateGiven = true;
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
  if (!options.faults.empty() && !faultRateGiven) options.faultRate = 0.2;
  if (!jobFile.empty()) {
    options.loadJobFile = [jobFile] { return orderlink::ReadLines(jobFile); };
  }

  std::string error;
  std::unique_ptr<orderlink::basesim::Line> line;
  if (pty) {
    std::string slave;
    line = orderlink::basesim::OpenPty(&slave, &error);
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
  ConsoleLog log(verbose, startUs);
  BaseStation station(options, log);
  std::int64_t lineFreeUs = 0;  // pacing: when the last byte written has left the line
  std::string endReason = "signal";
  int lineErrors = 0;

  while (g_stop == 0) {
    std::int64_t nowUs = NowUs();
    if (seconds > 0 && nowUs - startUs >= static_cast<std::int64_t>(seconds * 1e6)) {
      endReason = "time";
      break;
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
  log.Result("end: reason=" + endReason);
  for (const auto& summary : station.Summary()) log.Result(summary);
  if (lineErrors > 0) return 2;
  return station.Problems() == 0 ? 0 : 1;
}
