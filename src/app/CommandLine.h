#pragma once
// The command line of orderlink: options anywhere, the first other argument is the
// parameter of start-up (DEBUG or the ordering software's UDP port; AppCore checks
// it). Parsed before the window system is touched, so --help and --version work
// without a display. Plain C++, any thread.

#include <optional>
#include <string>
#include <vector>

namespace orderlink {

struct CommandLine {
  enum class Action {
    Run,      // start the program with `parameters`
    Help,     // print HelpText() and end with status 0
    Version,  // print VersionText() and end with status 0
    Refuse,   // an unknown or incomplete option: `error` says which; status 2
  };
  Action action = Action::Run;
  // The arguments that are not options, in order; the first one is start-up's
  // parameter, the others are ignored as the ordering software expects.
  std::vector<std::string> parameters;
  // --trace FILE: where the frames on the line are written; empty when not asked.
  std::optional<std::string> traceFile;
  // --verbose: a detail line per request and reply in the log.
  bool verbose = false;
  std::string error;
};

// Exit status for a refused command line, as other Unix tools use for misuse.
inline constexpr int kUsageExitStatus = 2;

// `args` without the program name. Options: --help (-h), --version, --trace FILE
// (also --trace=FILE), --verbose; "--" ends the options. Options are read in order and the
// first --help or --version wins.
[[nodiscard]] CommandLine ParseCommandLine(const std::vector<std::string>& args);

[[nodiscard]] std::string HelpText();
[[nodiscard]] std::string VersionText();

}  // namespace orderlink
