// When the worker thread's periodic poll tick is due.
#pragma once

#include <cstdint>

#include "core/clock.h"

namespace zol {

// Ticks fall due every period ms, counted from the first one, so that a wake-up that comes
// late (Windows rounds waits up to its timer period) does not push every later tick back. A
// tick that could not run for longer than a whole period (the thread was busy) is not made up:
// the ticks missed meanwhile collapse into one, and the next falls due a period later.
class PollSchedule {
 public:
  PollSchedule(uint32_t now, uint32_t periodMs) : period_(periodMs), due_(now + periodMs) {}

  // Milliseconds until the next tick, 0 when it is due.
  uint32_t MsUntilDue(uint32_t now) const { return MsUntil(now, due_); }
  // True when a tick is due now; it is then counted as run.
  bool TakeDue(uint32_t now) {
    if (!Reached(now, due_)) return false;
    due_ += period_;
    if (Reached(now, due_)) due_ = now + period_;
    return true;
  }

 private:
  uint32_t period_;
  uint32_t due_;
};

}  // namespace zol
