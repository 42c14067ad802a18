// orderlink-hostsim: stands in for the ordering software. Launches orderlink with its
// own UDP port, answers the program's notifications through the exchange files, and
// ends when the program posts WM_CLOSE. See Usage().

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "Host.h"
#include "common/Gbk.h"

namespace fs = std::filesystem;
using namespace orderlink;
using namespace orderlink::hostsim;

namespace {

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
      "faults of the ordering software (a share R is 0..1, drawn per request):\n"
      "  --late-ms N                answer a share of the requests N ms late\n"
      "  --late-share R             that share (default 0.1)\n"
      "  --answer-twice R           post code 1 twice for the reply of a share R of the requests\n"
      "  --silent-share R           leave a share R of the requests unanswered\n"
      "  --seed N                   random seed of the faults (default 1)\n"
      "  --events FILE              record timed events (notify, reply, late, twice, silent) in "
      "FILE,\n"
      "                             one \"<monotonic ms> <event> <handset> <code>\" a line\n"
      "  --version                  show the version and end\n"
      "Every exchange is logged to stderr; a summary line goes to stdout at the end.\n"
      "exit status: 0 the program closed with WM_CLOSE and exit status 0, 1 otherwise, 2 bad "
      "usage\n",
      stderr);
}

// The samples live in the source tree: <root>/samples/TXT beside <root>/build*/bin.
fs::path DefaultTables(const fs::path& self) {
  if (const char* env = std::getenv("ORDERLINK_SAMPLES")) return env;
  for (fs::path dir = self.parent_path(); !dir.empty() && dir != dir.root_path();
       dir = dir.parent_path()) {
    if (fs::is_directory(dir / "samples" / "TXT")) return dir / "samples" / "TXT";
  }
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  HostOptions options;
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
      else if (arg == "--late-ms")
        options.lateMs = std::stoi(value());
      else if (arg == "--late-share")
        options.lateShare = std::stod(value());
      else if (arg == "--answer-twice")
        options.answerTwiceShare = std::stod(value());
      else if (arg == "--silent-share")
        options.silentShare = std::stod(value());
      else if (arg == "--seed")
        options.seed = static_cast<std::uint32_t>(std::stoul(value()));
      else if (arg == "--events")
        options.events = value();
      else if (arg == "--version") {
        std::fputs("orderlink-hostsim " ORDERLINK_VERSION "\n", stdout);
        return 0;
      } else if (arg == "--help" || arg == "-h") {
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
  return Host(std::move(options), g_signal).Run();
}