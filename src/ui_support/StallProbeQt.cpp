#include "ui_support/StallProbeQt.h"

#include <algorithm>
#include <string>

#include "common/Log.h"

namespace orderlink {

std::unique_ptr<StallProbeQt> StallProbeQt::FromEnvironment() {
  if (qEnvironmentVariable("ORDERLINK_STALL_PROBE") != QLatin1String("1")) return nullptr;
  return std::make_unique<StallProbeQt>();
}

StallProbeQt::StallProbeQt() {
  timer_.setTimerType(Qt::PreciseTimer);
  timer_.setInterval(kIntervalMs);
  connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
  clock_.start();
  timer_.start();
  LogInfo("stall probe: measuring the window thread's event loop every 10 ms");
}

void StallProbeQt::Tick() {
  const std::int64_t now = clock_.elapsed();
  const std::int64_t lateness = std::max<std::int64_t>(now - lastTickMs_ - kIntervalMs, 0);
  // Each long stall on its own line, so that its moment can be matched with the log.
  if (lateness >= kReportedMs) {
    LogInfo("stall probe: event loop " + std::to_string(lateness) + " ms late");
  }
  if (lateness > worstMs_) {
    worstMs_ = lateness;
    worstAtMs_ = now;
  }
  lastTickMs_ = now;
  ++ticks_;
}

StallProbeQt::~StallProbeQt() {
  LogInfo("stall probe: worst event-loop lateness " + std::to_string(worstMs_) + " ms, " +
          std::to_string(worstAtMs_ / 1000) + " s after start (" + std::to_string(ticks_) +
          " ticks over " + std::to_string(clock_.elapsed() / 1000) + " s)");
}

}  // namespace orderlink
