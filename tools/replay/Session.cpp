#include "replay/Session.h"

#include <algorithm>

#include "common/TextFile.h"
#include "replay/TraceFile.h"

namespace fs = std::filesystem;

namespace orderlink::replay {

SessionPaths SessionFolder(const fs::path& folder) {
  return {folder / "trace.pcapng", folder / "sidecar", folder / "expected"};
}

std::vector<basesim::PcFrame> FramesOf(std::string_view bytes) {
  basesim::PcFrameParser parser;
  std::vector<basesim::PcFrame> frames;
  parser.Feed(bytes, frames);
  parser.Flush(frames);
  return frames;
}

std::string MessageInWords(const SidecarEvent& event) {
  switch (event.kind) {
    case SidecarEventKind::Start:
      return "start";
    case SidecarEventKind::SentAnnounce:
      return "announce (HostNotify with the program's port)";
    case SidecarEventKind::SentClose:
      return "WM_CLOSE";
    case SidecarEventKind::SentNotify:
    case SidecarEventKind::ReceivedNotify:
      return "HostNotify code " + std::to_string(event.code);
    case SidecarEventKind::User:
      return "user action \"" + event.action + "\"";
    case SidecarEventKind::LineLost:
      return "hang-up of the line";
    case SidecarEventKind::LineBack:
      return "return of the line";
  }
  return "";
}

std::optional<Session> LoadSession(const SessionPaths& paths, std::string* error) {
  const auto traceBytes = ReadFileBytes(paths.trace);
  if (!traceBytes) {
    *error = "cannot read the trace " + paths.trace.string();
    return std::nullopt;
  }
  std::string why;
  const auto packets = ReadTracePackets(*traceBytes, &why);
  if (!packets) {
    *error = paths.trace.string() + ": " + why;
    return std::nullopt;
  }
  const auto sidecarText = ReadFileBytes(paths.sidecar);
  if (!sidecarText) {
    *error = "cannot read the sidecar " + paths.sidecar.string();
    return std::nullopt;
  }
  const auto sidecar = ParseSidecar(*sidecarText, &why);
  if (!sidecar) {
    *error = paths.sidecar.string() + ": " + why;
    return std::nullopt;
  }

  Session session;
  for (const auto& packet : *packets) {
    if (packet.bytes.empty()) continue;  // a note of the program's, not line traffic
    if (packet.direction == TraceDirection::Inbound) {
      SessionEvent event;
      event.kind = SessionEvent::Kind::StationChunk;
      event.microseconds = packet.microseconds;
      event.packet = packet.number;
      event.chunk = packet.bytes;
      session.events.push_back(std::move(event));
      continue;
    }
    for (auto& frame : FramesOf(packet.bytes)) {
      SessionEvent event;
      const bool poll = frame.kind == basesim::PcFrame::Kind::Poll;
      event.kind = poll ? SessionEvent::Kind::ProgramPoll : SessionEvent::Kind::ProgramFrame;
      if (poll) session.polledHandsets.insert(frame.address);
      event.microseconds = packet.microseconds;
      event.packet = packet.number;
      event.frame = std::move(frame);
      session.events.push_back(std::move(event));
    }
  }
  for (const auto& host : *sidecar) {
    if (host.kind == SidecarEventKind::Start) {
      session.startFiles = host.files;
      continue;
    }
    SessionEvent event;
    switch (host.kind) {
      case SidecarEventKind::ReceivedNotify:
        event.kind = SessionEvent::Kind::HostMessage;
        break;
      case SidecarEventKind::User:
        event.kind = SessionEvent::Kind::UserAction;
        break;
      case SidecarEventKind::LineLost:
        event.kind = SessionEvent::Kind::LineLost;
        break;
      case SidecarEventKind::LineBack:
        event.kind = SessionEvent::Kind::LineBack;
        break;
      default:
        event.kind = SessionEvent::Kind::ProgramMessage;
    }
    event.microseconds = host.microseconds;
    event.host = host;
    session.events.push_back(std::move(event));
  }
  std::stable_sort(
      session.events.begin(), session.events.end(),
      [](const SessionEvent& a, const SessionEvent& b) { return a.microseconds < b.microseconds; });

  if (!paths.expected.empty() && fs::is_directory(paths.expected)) {
    std::vector<fs::path> names;
    for (const auto& entry : fs::directory_iterator(paths.expected)) names.push_back(entry.path());
    std::sort(names.begin(), names.end());
    for (const auto& path : names) {
      const auto bytes = ReadFileBytes(path);
      if (!bytes) {
        *error = "cannot read " + path.string();
        return std::nullopt;
      }
      session.expectedFiles.push_back({path.filename().string(), *bytes});
    }
  }
  return session;
}

}  // namespace orderlink::replay
