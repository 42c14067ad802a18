#pragma once
// What the serial line is doing, shared by the subsystems that take turns on it, and
// the one arbiter of those turns. The composition root makes one and hands it to each
// subsystem that needs it; tests make their own.
//
// The three line activities (download, link test, base-station dialogue) exclude
// one another: each asks Take() for the line and gets a LineGrant or the refusal
// text that names what holds it. A grant may also hold polling paused; it gives the
// line and the pause back exactly once. The activities' states are the flags below,
// which grants write (window thread) and any thread may read.

#include <atomic>
#include <cstdint>
#include <string_view>

#include "link/FrameCodec.h"

namespace orderlink {

class HandsetPoller;
struct LineActivity;

enum class LineUser { Download, LinkTest, StationDialogue };

// One activity's hold on the line. Window thread. Moving it moves the hold; the
// end of the object releases what it still holds.
class LineGrant {
 public:
  LineGrant() = default;
  LineGrant(LineActivity& line, LineUser user, HandsetPoller* poller);
  ~LineGrant() { Release(); }
  LineGrant(LineGrant&& other) noexcept;
  LineGrant& operator=(LineGrant&& other) noexcept;
  LineGrant(const LineGrant&) = delete;
  LineGrant& operator=(const LineGrant&) = delete;

  [[nodiscard]] bool Holds() const { return line_ != nullptr; }
  // From now on polling stays paused until the grant is released (once; a second
  // call changes nothing).
  void PausePolling();
  // The line is free for the other activities; a pause of polling is kept until
  // Release (the pause after a stopped download runs on).
  void EndActivity();
  // Everything the grant holds goes back. Idempotent.
  void Release();

  // A download whose start was granted: its go-ahead came, it now runs.
  void DownloadRuns();

 private:
  void SetFlag(bool on);

  LineActivity* line_ = nullptr;
  LineUser user_ = LineUser::Download;
  HandsetPoller* poller_ = nullptr;
  bool active_ = false;
  bool paused_ = false;
};

struct LineActivity {
  // The line for `user`, or the refusal text (grant empty) while another activity
  // holds it: download (started or running), link test, or base-station dialogue.
  // `poller` (may be null) is the one a pause of the grant stops.
  struct Taken {
    LineGrant grant;
    std::string_view refusal;
  };
  [[nodiscard]] Taken Take(LineUser user, HandsetPoller* poller);
  // The refusal Take would give `user` now; empty when the line is free for it.
  [[nodiscard]] std::string_view RefusalFor(LineUser user) const;

  std::atomic<bool> downloadRunning{false};    // from the go-ahead until the stop or the end
  std::atomic<bool> downloadRequested{false};  // the start click passed its checks and the
                                               // ordering software's go-ahead (code 11) is
                                               // not in yet
  std::atomic<bool> linkTestRunning{false};    // from start to stop of the link test
  std::atomic<bool> stationTransfer{false};    // the configure button reads "传输": the
                                               // receive thread only looks for the station's answer
  std::atomic<bool> stationBusy{false};        // from the click on "确定" until the dialogue
                                               // has ended and polling runs again

  // The serial device is there: false from a failed open or a hang-up until it is
  // back (written by the composition on the window thread). Work that needs the line
  // does not start without it.
  std::atomic<bool> portConnected{true};

  // 1 once the base station's answer signature was seen in a chunk (receive thread);
  // the dialogue takes it back to 0.
  std::atomic<std::uint8_t> stationAck{0};

  // The route byte an answer to a handset carries: that of the last frame received
  // (receive thread). It returns to 0xC0 when the PC sends a frame of its own or
  // finishes an answer (send thread). An answer job reads it once, at its start.
  std::atomic<std::uint8_t> replyRoute{kDefaultRoute};
  void ForgetReplyRoute() { replyRoute = kDefaultRoute; }

  // A download holds the line, or will as soon as the ordering software answers.
  [[nodiscard]] bool DownloadOnLine() const {
    return downloadRequested.load() || downloadRunning.load();
  }
};

}  // namespace orderlink
