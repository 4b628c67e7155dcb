// A clock for tests: time moves only when someone sleeps or advances it.
#pragma once

#include <cstdint>

#include "core/clock.h"

namespace zol::sim {

// A sleep granularity above 1 makes every sleep last a whole number of such steps, as
// Windows makes short sleeps last a whole timer period (about 15.6 ms) unless asked otherwise.
class SimClock : public Clock {
 public:
  explicit SimClock(uint32_t start = 0, uint32_t sleepGranularityMs = 1)
      : now_(start), granularity_(sleepGranularityMs) {}
  uint32_t Now() override { return now_; }
  void Sleep(uint32_t ms) override {
    const uint32_t slept = (ms + granularity_ - 1) / granularity_ * granularity_;
    now_ += slept;
    sleptMs_ += slept;
  }
  void Advance(uint32_t ms) { now_ += ms; }
  void set_sleep_granularity(uint32_t ms) { granularity_ = ms; }
  uint64_t sleptMs() const { return sleptMs_; }

 private:
  uint32_t now_;
  uint32_t granularity_;
  uint64_t sleptMs_ = 0;
};

}  // namespace zol::sim
