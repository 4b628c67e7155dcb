#include "core/clock.h"

namespace zol {

void SleepUntil(Clock& clock, uint32_t deadline) {
  for (uint32_t now = clock.Now(); !Reached(now, deadline); now = clock.Now())
    clock.Sleep(MsUntil(now, deadline));
}

void WaitTicks(Clock& clock, uint16_t delay) {
  SleepUntil(clock, clock.Now() + delay + 1u);
}

}  // namespace zol
