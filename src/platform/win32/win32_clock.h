// QueryPerformanceCounter in milliseconds, and Sleep.
#pragma once

#include <cstdint>

#include "core/clock.h"

namespace zol::win32 {

// QueryPerformanceCounter is monotonic and fine-grained on every Windows since XP; the
// system tick count would move in steps of about 15.6 ms.
class Win32Clock : public Clock {
 public:
  Win32Clock();
  uint32_t Now() override;
  void Sleep(uint32_t ms) override;
  uint32_t SystemTickCount() override;

 private:
  int64_t frequency_ = 1;
};

}  // namespace zol::win32
