#pragma once
// Event-loop latency probe: a 10 ms timer on the window thread that records how
// much later than due each tick came. The worst lateness is how long the window
// stood still (a click or a repaint waited that long). Switched on with the
// environment variable ORDERLINK_STALL_PROBE=1; every stall of 50 ms or more is
// logged when it ends, the worst when the probe ends (at shutdown). Window thread
// only.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <cstdint>
#include <memory>

namespace orderlink {

class StallProbeQt final : public QObject {
 public:
  static constexpr int kIntervalMs = 10;
  static constexpr int kReportedMs = 50;  // stalls from this long on are logged as they end

  // A running probe when ORDERLINK_STALL_PROBE is 1, else null.
  [[nodiscard]] static std::unique_ptr<StallProbeQt> FromEnvironment();

  StallProbeQt();
  // Logs the worst lateness and when it happened.
  ~StallProbeQt() override;

  [[nodiscard]] std::int64_t WorstLatenessMs() const { return worstMs_; }

 private:
  void Tick();

  QTimer timer_;
  QElapsedTimer clock_;
  std::int64_t lastTickMs_ = 0;
  std::int64_t worstMs_ = 0;
  std::int64_t worstAtMs_ = 0;
  std::int64_t ticks_ = 0;
};

}  // namespace orderlink
