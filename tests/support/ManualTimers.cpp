#include "support/ManualTimers.h"

#include <algorithm>

namespace orderlink::test {

void ManualTimers::After(std::int64_t ms, std::function<void()> call) {
  delays_.push_back(ms);
  pending_.push_back(
      {clock_.NowMs() + std::max<std::int64_t>(ms, 0), nextOrder_++, std::move(call)});
}

std::vector<ManualTimers::Scheduled>::iterator ManualTimers::Earliest() {
  return std::min_element(pending_.begin(), pending_.end(), [](const auto& a, const auto& b) {
    return a.dueMs != b.dueMs ? a.dueMs < b.dueMs : a.order < b.order;
  });
}

bool ManualTimers::RunNext() {
  if (pending_.empty()) return false;
  const auto next = Earliest();
  Scheduled due = std::move(*next);
  pending_.erase(next);
  if (due.dueMs > clock_.NowMs()) clock_.Advance(due.dueMs - clock_.NowMs());
  due.call();
  return true;
}

void ManualTimers::RunFor(std::int64_t ms) {
  const std::int64_t end = clock_.NowMs() + ms;
  while (true) {
    const auto next = Earliest();
    if (next == pending_.end() || next->dueMs > end) break;
    RunNext();
  }
  if (clock_.NowMs() < end) clock_.Advance(end - clock_.NowMs());
}

void ManualTimers::RunAll(int limit) {
  while (limit-- > 0 && RunNext()) {
  }
}

}  // namespace orderlink::test
