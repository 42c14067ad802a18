#pragma once
// What the serial line is doing, shared by the subsystems that take turns on it.
// The composition root makes one and hands it to each subsystem that needs it;
// tests make their own.
//
// The three line activities (download, link test, base-station dialogue) exclude
// one another: their states are mirrored here, next to the captions of their start
// buttons, so that other threads and tabs read an atomic instead of a widget. Each
// flag is written on the window thread by the owning page or its logic, except
// where a member says otherwise; every member may be read on any thread.

#include <atomic>
#include <cstdint>

#include "link/FrameCodec.h"

namespace orderlink {

struct LineActivity {
  std::atomic<bool> downloadRunning{false};    // the start/stop button reads "正在下载"
  std::atomic<bool> downloadRequested{false};  // the start click passed its checks and the
                                               // ordering software's go-ahead (code 11) is
                                               // not in yet
  std::atomic<bool> linkTestRunning{false};    // the link test's start button reads "停止测试"
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
