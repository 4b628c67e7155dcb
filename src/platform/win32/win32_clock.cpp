#include "platform/win32/win32_clock.h"

#include <windows.h>

namespace zol::win32 {

uint32_t Win32Clock::Now() { return GetTickCount(); }

void Win32Clock::Sleep(uint32_t ms) { ::Sleep(ms); }

}  // namespace zol::win32
