#pragma once
// What the download logic needs of its page. The page implements it; tests use a
// recording fake.

#include <string>
#include <vector>

namespace orderlink {

// The text of the progress cell; behind it the cell fills `done` / `total` of its
// width (no fill when `total` is 0).
struct DownloadProgress {
  std::string text;  // UTF-8
  int done = 0;
  int total = 0;
};

// The tray tool-tip line for a progress: the text, and the share done when known.
[[nodiscard]] std::string ProgressToolTipLine(const DownloadProgress& progress);

// Left edge of a text of `textWidth` pixels centred in a cell; a text wider than
// the cell starts left of it by half the excess (rounded toward zero).
[[nodiscard]] constexpr int CentredTextLeft(int cellLeft, int cellWidth, int textWidth) {
  return cellLeft + (cellWidth - textWidth) / 2;
}

// How a handset's download ended: it reported its tables complete (kCodeDownloadComplete) or
// failed (kCodeDownloadFailed), or it never answered in the passes of the status phase.
enum class HandsetOutcome { NoAnswer, Complete, Failed };

class DownloadView {
 public:
  virtual ~DownloadView() = default;

  // ---- Window thread only; these act at once.
  // Table check box `index` (order of kDownloadTables) is ticked.
  [[nodiscard]] virtual bool TableTicked(int index) const = 0;
  // Numbers of the ticked handset nodes of the handset tree, in tree order.
  [[nodiscard]] virtual std::vector<int> TickedHandsets() const = 0;
  // The handset counter under the tree, as a number.
  [[nodiscard]] virtual int HandsetCounter() const = 0;
  // Caption of the start/stop button.
  virtual void SetStartStopCaption(const std::string& utf8) = 0;
  // The thirteen table boxes, the handset tree and "全选".
  virtual void SetInputsEnabled(bool enabled) = 0;
  // Marks a handset of the tree with how its last download ended; Clear… takes every
  // mark away (a new download starts).
  virtual void ShowHandsetOutcome(int handset, HandsetOutcome outcome) = 0;
  virtual void ClearHandsetOutcomes() = 0;

  // ---- Any thread; carried to the window thread in the order of the calls and
  // never waiting for it.
  virtual void SetProgress(const DownloadProgress& progress) = 0;
  // The 200 ms timer whose ticks step the status phase; enabling restarts its
  // interval.
  virtual void SetStatusTimerEnabled(bool enabled) = 0;
  // Switches the status timer on only when it is off; a running interval goes on undisturbed.
  virtual void StartStatusTimerIfStopped() = 0;
};

}  // namespace orderlink
