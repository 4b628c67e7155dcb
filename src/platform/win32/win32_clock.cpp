#include "platform/win32/win32_clock.h"

#include <windows.h>

namespace zol::win32 {

Win32Clock::Win32Clock() {
  LARGE_INTEGER frequency;
  if (QueryPerformanceFrequency(&frequency) && frequency.QuadPart > 0)
    frequency_ = frequency.QuadPart;
}

uint32_t Win32Clock::Now() {
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  // Whole milliseconds without overflow: counts of whole seconds and the rest apart.
  const int64_t seconds = counter.QuadPart / frequency_;
  const int64_t rest = counter.QuadPart % frequency_;
  return static_cast<uint32_t>(seconds * 1000 + rest * 1000 / frequency_);
}

void Win32Clock::Sleep(uint32_t ms) {
  ::Sleep(ms);
}

uint32_t Win32Clock::SystemTickCount() {
  return GetTickCount();
}

}  // namespace zol::win32
