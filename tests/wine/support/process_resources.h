// What this process holds, for tests that look for leaks: handles, threads and committed
// private memory, counted in ways that also work under Wine.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

namespace zol::testing {

struct Resources {
  DWORD handles = 0;
  DWORD threads = 0;
  size_t privateBytes = 0;
};
// ZOL_E2E_HANDLES and ZOL_E2E_THREADS in the environment list each handle and thread.
Resources MeasureResources();
std::string Describe(const Resources& r);

}  // namespace zol::testing
