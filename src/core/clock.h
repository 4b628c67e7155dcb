// Millisecond clock of the worker thread, and the waits built on it.
#pragma once

#include <cstdint>

namespace zol {

// A monotonic millisecond count and a sleep. The Windows build reads QueryPerformanceCounter,
// whose steps are far below a millisecond (the system tick count moves in steps of about
// 15.6 ms and would stretch every short wait), and sleeps with Sleep(); tests use a simulated
// clock whose Sleep advances time.
class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since an arbitrary origin; wraps modulo 2^32.
  virtual uint32_t Now() = 0;
  // Gives up the CPU for about ms milliseconds (ms >= 1); it may last longer, never shorter.
  virtual void Sleep(uint32_t ms) = 0;
  // The system's own tick count (Windows: GetTickCount), for values handed to the host that
  // are defined on it. Never used to measure a wait.
  virtual uint32_t SystemTickCount() { return Now(); }
};

// True once now has reached deadline (wrap-safe: deadlines lie less than 2^31 ms ahead).
inline bool Reached(uint32_t now, uint32_t deadline) {
  return static_cast<int32_t>(now - deadline) >= 0;
}

// Milliseconds from now until deadline, 0 when it has passed.
inline uint32_t MsUntil(uint32_t now, uint32_t deadline) {
  return Reached(now, deadline) ? 0 : deadline - now;
}

// Sleeps until the clock has reached deadline. A sleep that lasts longer than asked (Windows
// rounds sleeps up to its timer period) does not lengthen a run of waits that each measure
// against their own deadline.
void SleepUntil(Clock& clock, uint32_t deadline);

// Holds the calling thread until more than delay milliseconds of Now() have passed since the
// call. Wrap-safe. Sleeps, never spins.
void WaitTicks(Clock& clock, uint16_t delay);

}  // namespace zol
