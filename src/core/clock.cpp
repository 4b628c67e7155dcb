#include "core/clock.h"

namespace zol {

void WaitTicks(Clock& clock, uint16_t delay) {
  const uint32_t start = clock.Now();
  while (static_cast<uint32_t>(clock.Now() - start) <= delay) clock.Sleep(1);
}

}  // namespace zol
