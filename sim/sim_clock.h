// A clock for tests: time moves only when someone sleeps or advances it.
#pragma once

#include <cstdint>

#include "core/clock.h"

namespace zol::sim {

class SimClock : public Clock {
 public:
  explicit SimClock(uint32_t start = 0) : now_(start) {}
  uint32_t Now() override { return now_; }
  void Sleep(uint32_t ms) override {
    now_ += ms;
    sleptMs_ += ms;
  }
  void Advance(uint32_t ms) { now_ += ms; }
  uint64_t sleptMs() const { return sleptMs_; }

 private:
  uint32_t now_;
  uint64_t sleptMs_ = 0;
};

}  // namespace zol::sim
