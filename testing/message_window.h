// A message-only window: what a thread needs to receive messages posted to a window of its own.
#pragma once

#include <windows.h>

namespace zol::testing {

// Registers className for proc in this process (again is harmless) and makes a message-only
// window of it on the calling thread; null when that fails.
HWND CreateMessageWindow(const char* className, WNDPROC proc);

}  // namespace zol::testing
