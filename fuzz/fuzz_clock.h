// The clock of the fuzz targets: like the system tick count it moves in coarse steps (about
// 16 ms on Windows), so a sleep of 1 ms may let a whole step pass. Fixed waits then take a
// few sleeps instead of one per millisecond, which keeps every run short, and the code under
// test meets the jumps it meets on Windows.
#pragma once

#include <cstdint>

#include "core/clock.h"

namespace zol::fuzz {

class SteppingClock : public Clock {
 public:
  explicit SteppingClock(uint32_t start, uint32_t step = 16) : now_(start), step_(step) {}
  uint32_t Now() override { return now_; }
  void Sleep(uint32_t ms) override { now_ += ms < step_ ? step_ : ms; }
  void Advance(uint32_t ms) { now_ += ms; }
  void set_step(uint32_t step) { step_ = step == 0 ? 1 : step; }

 private:
  uint32_t now_;
  uint32_t step_;
};

}  // namespace zol::fuzz
