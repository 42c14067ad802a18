#pragma once
// WindowTimers for tests: scheduled calls wait until the test runs them, in due
// order, advancing a VirtualClock to each call's due time.

#include <cstdint>
#include <functional>
#include <vector>

#include "common/Clock.h"
#include "common/WindowTimers.h"

namespace orderlink::test {

class ManualTimers final : public WindowTimers {
 public:
  explicit ManualTimers(VirtualClock& clock) : clock_(clock) {}

  void After(std::int64_t ms, std::function<void()> call) override;

  // Runs the earliest pending call (advancing the clock to its due time); false
  // when none is pending.
  bool RunNext();
  // Runs every call due within `ms` from now, including calls they schedule, then
  // advances the clock to the end of that span.
  void RunFor(std::int64_t ms);
  // Runs pending calls until none is left (at most `limit`, against endless chains).
  void RunAll(int limit = 100000);
  [[nodiscard]] std::size_t Pending() const { return pending_.size(); }
  // Delays of every call scheduled so far, in order.
  [[nodiscard]] const std::vector<std::int64_t>& Delays() const { return delays_; }

 private:
  struct Scheduled {
    std::int64_t dueMs;
    std::uint64_t order;
    std::function<void()> call;
  };
  std::vector<Scheduled>::iterator Earliest();

  VirtualClock& clock_;
  std::vector<Scheduled> pending_;
  std::vector<std::int64_t> delays_;
  std::uint64_t nextOrder_ = 0;
};

}  // namespace orderlink::test
