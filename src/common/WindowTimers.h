#pragma once
// Delayed calls on the window thread. The window thread never sleeps: where the
// program must wait a fixed time before its next step (for example 500 ms after a
// download is stopped), it schedules the step here and returns to its event loop.
// The window side implements it with single-shot Qt timers; tests with a fake that
// runs due calls in virtual time.

#include <cstdint>
#include <functional>

namespace orderlink {

class WindowTimers {
 public:
  virtual ~WindowTimers() = default;
  // Runs `call` once on the window thread after `ms` milliseconds (0: on the next
  // pass of the event loop). Window thread only. Calls due at the same time run in
  // the order they were scheduled. A call whose owner may be gone by then must
  // check for itself (the timer outlives nothing it was not given).
  virtual void After(std::int64_t ms, std::function<void()> call) = 0;
};

}  // namespace orderlink
