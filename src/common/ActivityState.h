#pragma once
// The three line activities (download, link test, base-station dialogue) exclude
// one another. Their states are mirrored here, next to the captions of their start
// buttons, so that other threads and tabs read an atomic instead of a widget.
// Written only on the window thread by the owning page or its logic; read anywhere.

#include <atomic>

namespace orderlink {

extern std::atomic<bool> DownloadRunning;    // BitBtn_SEND reads "正在下载"
extern std::atomic<bool> DownloadRequested;  // the start click passed its checks and the
                                             // ordering software's go-ahead (code 11) is
                                             // not in yet
extern std::atomic<bool> LinkTestRunning;    // BitBtn_CS reads "停止测试"
extern std::atomic<bool> StationTransfer;    // BitBtn1 reads "传输": the receive thread only
                                             // looks for the base station's answer
extern std::atomic<bool> StationBusy;        // from the click on "确定" until the dialogue
                                             // has ended and polling runs again

// A download holds the line, or will as soon as the ordering software answers.
[[nodiscard]] inline bool DownloadOnLine() { return DownloadRequested.load() || DownloadRunning.load(); }

}  // namespace orderlink
