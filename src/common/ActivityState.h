#pragma once
// The three line activities exclude one another through the captions of their
// start buttons. Those captions are mirrored here so that other threads and tabs
// read an atomic instead of a widget. Set by the owning page together with its caption.

#include <atomic>

namespace orderlink {

extern std::atomic<bool> DownloadRunning;  // BitBtn_SEND reads "正在下载"
extern std::atomic<bool> LinkTestRunning;  // BitBtn_CS reads "停止测试"
extern std::atomic<bool> StationTransfer;  // BitBtn1 reads "传输": the receive thread only
                                           // looks for the base station's answer

}  // namespace orderlink
