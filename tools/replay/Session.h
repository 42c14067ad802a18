#pragma once
// A recorded session as the replay plays it: the frame trace and the sidecar merged
// into one time line, and the TXT files the program left behind.
//
// Folder layout (tests/sessions/NAME): trace.pcapng, sidecar, expected/ (the files
// the program wrote, as they stood when it ended), README (one line).

#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/SessionSidecar.h"
#include "basesim/PcFrameParser.h"

namespace orderlink::replay {

struct SessionEvent {
  enum class Kind {
    ProgramFrame,    // a frame the program wrote (not a poll)
    ProgramPoll,     // a poll frame the program wrote
    StationChunk,    // bytes the program read from the line
    ProgramMessage,  // a datagram the program posted (announce, notify, close)
    HostMessage,     // a notification of the ordering software, its files written first
    UserAction,      // a scripted action on the pages (show, click, text, select)
    LineLost,        // the station's side hung up: the device goes away
    LineBack,        // and comes back behind the same name
  };
  Kind kind = Kind::ProgramFrame;
  std::uint64_t microseconds = 0;
  int packet = 0;          // trace packet number (frames, polls, chunks)
  basesim::PcFrame frame;  // ProgramFrame, ProgramPoll
  std::string chunk;       // StationChunk
  SidecarEvent host;       // ProgramMessage, HostMessage, UserAction

  [[nodiscard]] bool IsInput() const {
    return kind != Kind::ProgramFrame && kind != Kind::ProgramPoll && kind != Kind::ProgramMessage;
  }
};

struct Session {
  std::vector<SessionEvent> events;     // in time order
  std::vector<SidecarFile> startFiles;  // the configuration files at the start
  std::set<int> polledHandsets;
  std::vector<SidecarFile> expectedFiles;
};

struct SessionPaths {
  std::filesystem::path trace;
  std::filesystem::path sidecar;
  std::filesystem::path expected;  // may be empty: no files are compared at the end
};

// The paths inside a session folder.
[[nodiscard]] SessionPaths SessionFolder(const std::filesystem::path& folder);

// nullopt and the reason when a file cannot be read or is not what it should be.
[[nodiscard]] std::optional<Session> LoadSession(const SessionPaths& paths, std::string* error);

// The frames in the bytes of one write of the program, as the base station reads them.
[[nodiscard]] std::vector<basesim::PcFrame> FramesOf(std::string_view bytes);

// "notify 1", "announce", ... of a sidecar event.
[[nodiscard]] std::string MessageInWords(const SidecarEvent& event);

}  // namespace orderlink::replay
