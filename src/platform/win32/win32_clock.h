// The system tick count (GetTickCount) and Sleep.
#pragma once

#include "core/clock.h"

namespace zol::win32 {

class Win32Clock : public Clock {
 public:
  uint32_t Now() override;
  void Sleep(uint32_t ms) override;
};

}  // namespace zol::win32
