#pragma once
// Plays a recorded session back into a running orderlink and compares what it does
// with the recording.
//
// The replay plays both the base station (on a pseudo-terminal behind a symlinked
// name that ORDERLINK_COM1..9 point to) and the ordering software (a UDP socket on
// 127.0.0.1 whose port orderlink is started with, in a fresh AppDir holding the
// recorded configuration files).
//
// Inputs are reactive: each recorded input (a chunk from the line, a notification of
// the ordering software with its files) is sent after the recorded delay (divided by
// the speed) behind the event that preceded it in the recording, once the program
// has done that event: a chunk that followed a frame of the program goes when the
// program has written the same frame; one that followed a poll of handset N goes
// after the program's next poll of N that is due by then; one that followed another
// input goes after that input. So the program's own 66 ms poll schedule need not meet
// the recording's clock.
//
// What is compared, the first difference ending the replay:
//   - every frame that is not a poll, in order and byte for byte (a time answer's
//     six time bytes excepted);
//   - the pause before a frame whose recorded predecessor is a frame of the program
//     with nothing between them (the pauses inside a job: between reply lines, between
//     download records, after a message's packets), within the tolerance; gaps after
//     an input, a notification or a poll are the peer's or the poll schedule's and are
//     not checked, nor is a pause between two jobs (after a reply's or a resend's
//     end, before a download's broadcast, status queries or closing frames, which
//     window timers post). The program's pauses do not scale with --speed;
//   - polls loosely: each must poll a handset the recording polled, and polls are not
//     matched one by one (which handset comes next depends on timing);
//   - every datagram the program posts (announce, notify with its code, WM_CLOSE), in
//     order, and the file it wrote for a notify (T1.txt, DL.txt) as the sidecar holds it;
//   - at the end the files of expected/ against the program's TXT files.

#include <filesystem>
#include <string>

#include "replay/Session.h"

namespace orderlink::replay {

struct ReplayOptions {
  std::filesystem::path program;  // orderlink
  double speed = 1.0;             // recorded delays of the inputs are divided by it
  int toleranceMs = 20;           // on the pauses inside jobs
  int slackMs = 3000;             // how much later than recorded an expected output may come
  bool keep = false;              // keep the work folder (it is kept anyway on a difference)
  bool verbose = false;           // every event to stderr
};

struct ReplayResult {
  bool match = false;
  std::string difference;         // the first difference, in words
  bool pauseOnly = false;         // the difference is a pause: everything before it matched
  bool setupFailed = false;       // no replay at all: work folder, pty, socket or program failed
  std::filesystem::path workDir;  // kept when not empty
  int framesCompared = 0, pausesChecked = 0, polls = 0, messagesCompared = 0, filesCompared = 0;
  double seconds = 0;
};

[[nodiscard]] ReplayResult Replay(const Session& session, const ReplayOptions& options);

}  // namespace orderlink::replay
