#include "app/CommandLine.h"

#ifndef ORDERLINK_VERSION
#error "ORDERLINK_VERSION is set by CMake from the project version"
#endif

namespace orderlink {

namespace {

constexpr std::string_view kTraceOption = "--trace";

CommandLine Refused(std::string error) {
  CommandLine refused;
  refused.action = CommandLine::Action::Refuse;
  refused.error = std::move(error) + " (orderlink --help lists the options)";
  return refused;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine parsed;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    // "-" alone is an argument, as for other tools; a negative number is not a port.
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      parsed.parameters.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--help" || arg == "-h") {
      parsed.action = CommandLine::Action::Help;
      return parsed;
    } else if (arg == "--version") {
      parsed.action = CommandLine::Action::Version;
      return parsed;
    } else if (arg == "--verbose") {
      parsed.verbose = true;
    } else if (arg == kTraceOption) {
      if (i + 1 >= args.size() || args[i + 1].empty()) {
        return Refused("option --trace needs a file name");
      }
      parsed.traceFile = args[++i];
    } else if (arg.rfind(std::string(kTraceOption) + "=", 0) == 0) {
      std::string file = arg.substr(kTraceOption.size() + 1);
      if (file.empty()) return Refused("option --trace needs a file name");
      parsed.traceFile = std::move(file);
    } else {
      return Refused("unknown option \"" + arg + "\"");
    }
  }
  return parsed;
}

std::string VersionText() { return "orderlink " ORDERLINK_VERSION "\n"; }

std::string HelpText() {
  return R"(Usage: orderlink [OPTION]... DEBUG
       orderlink [OPTION]... PORT

Serves the waiters' handsets of a wireless ordering installation through the radio
base station on a serial line, and exchanges their requests with the restaurant's
ordering software. The window (无线点菜机管理) lives in the desktop tray.

Arguments (the first one counts; further ones are ignored):
  DEBUG            run alone: the program answers its own notifications
  PORT             the ordering software's UDP port on 127.0.0.1 (1-65535); the
                   program announces itself there and reads the data files it
                   names from AppDir/TXT

Options (before or after the argument):
  --trace FILE     write every frame on the serial line to FILE as pcapng
                   (e.g. --trace line.pcapng; Wireshark reads it with
                   tools/wireshark/orderlink.lua); an earlier trace in FILE is
                   kept as FILE.1, the trace ends at TraceMax (64 MiB), and a
                   FIFO must already have its reader
  --verbose        log a detail line per request and reply
  -h, --help       show this help and end
  --version        show the version and end
  --               end of options
An unknown option ends the program with status 2.

Environment:
  ORDERLINK_APPDIR          data folder (AppDir): the data files are AppDir/TXT/*
  ORDERLINK_COM<n>          device of COM port n (1-9), e.g.
                            ORDERLINK_COM1=/dev/serial/by-id/usb-FTDI_...-port0
  ORDERLINK_NONINTERACTIVE  1: show no message box; each counts as acknowledged
  QT_QPA_PLATFORM           Qt platform; offscreen runs without a display
  XDG_CONFIG_HOME, XDG_DATA_HOME, XDG_STATE_HOME
                            base folders of the settings file, the default data
                            folder and the log (~/.config, ~/.local/share,
                            ~/.local/state when unset)

Settings file: $XDG_CONFIG_HOME/orderlink/orderlink.conf, lines NAME=VALUE:
  AppDir=/srv/restaurant    data folder
  COM1=/dev/serial/by-id/usb-FTDI_...-port0
                            device of COM port 1 (COM1 to COM9)
  Trace=/var/tmp/orderlink.pcapng
                            as --trace
  TraceMax=64M              size limit of the trace (K, M, G; 0: none)
  Verbose=yes               as --verbose
  Paths are absolute. Lines starting with # or ; are comments, and a # after a
  blank starts a comment at the end of a line. A value in double quotes is taken
  as written between the quotes (for a path holding " #"). A line the program
  does not understand stops it with a message naming the file and line.

Data folder, first match wins: ORDERLINK_APPDIR; AppDir in the settings file; the
program's own folder when it holds TXT; $XDG_DATA_HOME/orderlink (created with an
empty TXT folder when missing).
COM port n, first match wins: ORDERLINK_COM<n>; COM<n> in the settings file;
/dev/ttyS<n-1>.

Every diagnostic line on standard error starts with a time stamp and a level
(error: the start failed; warning: an input refused or the line lost; info:
events of the service; debug: --verbose detail); under systemd (JOURNAL_STREAM
set) it starts with the journal's priority <N> instead of the time stamp. The
stamped lines also go to $XDG_STATE_HOME/orderlink/orderlink.log (two files of
1 MiB). Each message shown to the user is also written as "message: <text>".

Without a display (no DISPLAY or WAYLAND_DISPLAY) the program says so and ends
with status 1; QT_QPA_PLATFORM=offscreen runs it without one.

Exit status: 0 after a normal close, 1 when start-up failed, 2 for a bad command
line.
)";
}

}  // namespace orderlink
