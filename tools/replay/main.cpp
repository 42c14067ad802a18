// orderlink-replay: plays a recorded session (a frame trace of orderlink --trace and
// its sidecar) back into orderlink and says whether the program still does what it
// did then. See Usage().

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "replay/Replayer.h"
#include "replay/Session.h"

namespace fs = std::filesystem;
using namespace orderlink::replay;

namespace {

void Usage() {
  std::fputs(
      "usage: orderlink-replay [options] SESSION_FOLDER\n"
      "       orderlink-replay [options] --trace FILE [--sidecar FILE] [--expected DIR]\n"
      "A session folder holds trace.pcapng, sidecar and expected/ (tests/sessions/NAME).\n"
      "The sidecar of a trace that orderlink wrote itself is FILE.sidecar beside it.\n"
      "options:\n"
      "  --program PATH     orderlink to run (default: orderlink beside this tool)\n"
      "  --speed N          recorded delays of the base station and the ordering software\n"
      "                     are divided by N (default 1); the program's own pauses are not\n"
      "  --tolerance-ms N   allowed deviation of a pause inside a job (default 20)\n"
      "  --slack-ms N       how much later than recorded a frame may come (default 3000)\n"
      "  --no-second-run    report a pause off the tolerance at once (by default the\n"
      "                     session is replayed once more and the pause counts only when\n"
      "                     the second replay differs too: a busy machine delays a frame\n"
      "                     now and then, a changed program every time)\n"
      "  --keep             keep the work folder (always kept on a difference)\n"
      "  --verbose          every event to stderr\n"
      "What is compared (the first difference is printed and ends the replay):\n"
      "  frames       every frame but the polls, in order, byte for byte (a time answer's\n"
      "               six time bytes excepted), decoded in words as the dissector shows them\n"
      "  pauses       the gap before a frame whose recorded predecessor is a frame of the\n"
      "               program with nothing between them (the pauses inside a job: reply\n"
      "               lines, download records, message packets), within the tolerance; gaps\n"
      "               after an input, a notification or a poll are not checked\n"
      "  polls        loosely: each must poll a handset the recording polls; they are not\n"
      "               matched one by one, since which handset comes next depends on timing.\n"
      "               A recorded answer to a poll of handset N is sent after the program's\n"
      "               next poll of N, then after the recorded delay\n"
      "  datagrams    announce, HostNotify codes and WM_CLOSE in order, with the file written\n"
      "               for a notification (T1.txt, DL.txt) as the sidecar holds it\n"
      "  files        at the end, expected/ against the program's TXT files\n"
      "exit status: 0 the replay matches, 1 a difference (printed), 2 bad usage or files\n",
      stderr);
}

}  // namespace

int main(int argc, char** argv) {
  ReplayOptions options;
  std::error_code ec;
  options.program = fs::read_symlink("/proc/self/exe", ec).parent_path() / "orderlink";
  SessionPaths paths;
  fs::path folder;
  bool confirmPauses = true;
  try {
    for (int i = 1; i < argc; ++i) {
      const std::string arg = argv[i];
      const auto value = [&]() -> std::string {
        if (i + 1 >= argc) throw std::invalid_argument(arg + " needs a value");
        return argv[++i];
      };
      if (arg == "--program")
        options.program = value();
      else if (arg == "--speed")
        options.speed = std::stod(value());
      else if (arg == "--tolerance-ms")
        options.toleranceMs = std::stoi(value());
      else if (arg == "--slack-ms")
        options.slackMs = std::stoi(value());
      else if (arg == "--no-second-run")
        confirmPauses = false;
      else if (arg == "--keep")
        options.keep = true;
      else if (arg == "--verbose")
        options.verbose = true;
      else if (arg == "--trace")
        paths.trace = value();
      else if (arg == "--sidecar")
        paths.sidecar = value();
      else if (arg == "--expected")
        paths.expected = value();
      else if (arg == "--help" || arg == "-h") {
        Usage();
        return 0;
      } else if (!arg.empty() && arg[0] != '-' && folder.empty())
        folder = arg;
      else
        throw std::invalid_argument("unknown option " + arg);
    }
    if (!(options.speed > 0)) throw std::invalid_argument("--speed must be above 0");
    if (folder.empty() == paths.trace.empty())
      throw std::invalid_argument("give a session folder or --trace FILE");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "orderlink-replay: %s\n", e.what());
    Usage();
    return 2;
  }
  if (!folder.empty()) paths = SessionFolder(folder);
  if (paths.sidecar.empty()) paths.sidecar = paths.trace.string() + ".sidecar";

  std::string error;
  const auto session = LoadSession(paths, &error);
  if (!session) {
    std::fprintf(stderr, "orderlink-replay: %s\n", error.c_str());
    return 2;
  }
  std::signal(SIGPIPE, SIG_IGN);
  ReplayResult result = Replay(*session, options);
  // A pause off the tolerance may be a busy machine's: it counts when it comes again.
  if (!result.match && result.pauseOnly && confirmPauses) {
    std::fprintf(stderr,
                 "orderlink-replay: %s\norderlink-replay: a pause differed; replaying again to "
                 "tell a busy machine from the program\n",
                 result.difference.c_str());
    std::error_code removed;
    std::filesystem::remove_all(result.workDir, removed);
    result = Replay(*session, options);
  }
  const std::string name = folder.empty() ? paths.trace.string() : folder.filename().string();
  if (result.setupFailed) {
    std::fprintf(stderr, "orderlink-replay: %s\n", result.difference.c_str());
    return 2;
  }
  if (!result.match) {
    std::printf("%s: difference: %s\n", name.c_str(), result.difference.c_str());
    if (!result.workDir.empty())
      std::printf("%s: the program's files and log are kept in %s\n", name.c_str(),
                  result.workDir.c_str());
    return 1;
  }
  std::printf(
      "%s: match in %.1f s: %d frames, %d pauses within ±%d ms, %d polls, %d datagrams, %d files\n",
      name.c_str(), result.seconds, result.framesCompared, result.pausesChecked,
      options.toleranceMs, result.polls, result.messagesCompared, result.filesCompared);
  return 0;
}
