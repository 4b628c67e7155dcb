// Millisecond tick source of the worker thread, and the fixed wait built on it.
#pragma once

#include <cstdint>

namespace zol {

// The system tick count and a short sleep. The Windows build reads GetTickCount and
// sleeps with Sleep(); tests use a simulated clock whose Sleep advances time.
class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since an arbitrary origin; wraps modulo 2^32.
  virtual uint32_t Now() = 0;
  // Gives up the CPU for about ms milliseconds (ms >= 1).
  virtual void Sleep(uint32_t ms) = 0;
};

// Holds the calling thread until more than delay milliseconds of Now() have passed since the
// call. Wrap-safe (unsigned differences). Sleeps in 1 ms steps instead of spinning.
void WaitTicks(Clock& clock, uint16_t delay);

}  // namespace zol
