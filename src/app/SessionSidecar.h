#pragma once
// The session sidecar: what passed between the program and the ordering software while
// a frame trace was written, kept beside the trace so that a replay can play the
// ordering software's side (tools/replay). A text file, one event a line, each
// stamped on the trace's clock (microseconds since the epoch), the files that belong
// to an event on the lines after it:
//
//   orderlink-sidecar 1
//   1765262000123456 start
//   file 点菜机.txt text "001 1\r\n002 1\r\n"
//   1765262000200311 sent announce
//   1765262001203311 sent notify 1
//   file T1.txt text "DC   001\r\n..."
//   1765262001260000 received notify 1
//   file R1.txt text "..."
//   1765262005000000 user click downloadTab/startStopButton
//   1765262006000000 line lost
//   1765262009500000 line back
//   1765262009000000 sent close
//
// File contents are GBK on disk; they stand here as UTF-8 between quotes (\r \n \t
// \\ \" and \xHH escaped) when they convert both ways without loss, else as `hex`.
// A file that did not exist is `file NAME missing`.
//
// The password of a login typed at the PC is written as '*' (DL.txt of sent notify 10)
// unless the session is scripted (ORDERLINK_UI_CONTROL).
//
// What each event carries: start the configuration files; sent notify 1 T1.txt and
// sent notify 10 DL.txt (the program wrote them for the ordering software); received
// notify 0 DX.txt, 1 R1.txt, 10 DL.txt and 11 the download tables (the ordering
// software wrote them before it notified). A user event is a scripted action on the
// pages (app/UiControl.h), in its own words.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/HostLink.h"
#include "common/TxtDir.h"

namespace orderlink {

enum class SidecarEventKind {
  Start,
  SentAnnounce,
  SentNotify,
  SentClose,
  ReceivedNotify,
  User,
  LineLost,  // the serial device hung up (an adapter pulled)
  LineBack,  // and was opened again
};

struct SidecarFile {
  std::string name;                  // UTF-8, as in TXT
  std::optional<std::string> bytes;  // nullopt: the file did not exist
  bool operator==(const SidecarFile&) const = default;
};

struct SidecarEvent {
  std::uint64_t microseconds = 0;
  SidecarEventKind kind = SidecarEventKind::Start;
  int code = 0;        // SentNotify, ReceivedNotify
  std::string action;  // User: one line, UTF-8
  std::vector<SidecarFile> files;
  bool operator==(const SidecarEvent&) const = default;
};

inline constexpr std::string_view kSidecarHeader = "orderlink-sidecar 1";

// The lines of one event, each ending in LF.
[[nodiscard]] std::string FormatSidecarEvent(const SidecarEvent& event);
// Every event of a sidecar file; nullopt and the line's number and fault on a line
// that is not one of the forms above.
[[nodiscard]] std::optional<std::vector<SidecarEvent>> ParseSidecar(std::string_view text,
                                                                    std::string* error);
// The files an event carries (UTF-8 names).
[[nodiscard]] std::vector<std::string> SidecarFileNames(SidecarEventKind kind, int code);

// Writes the sidecar while the program runs. Any thread: OnHostMessage is called
// where messages are posted (window and receive threads) and where they are read
// (window thread); each event is read from TXT and written to the file at once,
// under one lock, so the files are those of that moment. A failed write stops the
// sidecar with one log line; the program goes on.
class SessionSidecar {
 public:
  // Creates `path` (replacing it) and records the start. nullptr, logged, on failure.
  [[nodiscard]] static std::unique_ptr<SessionSidecar> Start(const std::filesystem::path& path,
                                                             const std::filesystem::path& appDir,
                                                             int ownPort);
  ~SessionSidecar();
  SessionSidecar(const SessionSidecar&) = delete;
  SessionSidecar& operator=(const SessionSidecar&) = delete;

  // A message the program posted (`sent`) or accepted from the ordering software.
  void OnHostMessage(bool sent, const HostMessage& message);
  // A scripted user action, before it takes effect (window thread).
  void OnUserAction(const std::string& action);
  // The serial device hung up (`back` false) or was opened again (window thread).
  void OnLine(bool back);

 private:
  SessionSidecar(int fd, std::string name, const std::filesystem::path& appDir, int ownPort);
  void Record(SidecarEventKind kind, int code, std::string action = {});

  std::mutex mutex_;  // guards the file and stopped_
  int fd_;
  const std::string name_;
  const TxtDir txt_;
  const int ownPort_;
  const bool keepPasswords_;  // a scripted session (ORDERLINK_UI_CONTROL): test passwords
  bool stopped_ = false;
};

}  // namespace orderlink
