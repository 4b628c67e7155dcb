#include "testing/message_pump.h"

namespace zol::testing {

namespace {

double NowMs() {
  static const double ticksPerMs = [] {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(frequency.QuadPart) / 1000.0;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / ticksPerMs;
}

// Sleeps up to ms, waking early for a message for this thread or a signalled stop.
void WaitForMessage(double ms, HANDLE stop) {
  MsgWaitForMultipleObjectsEx(stop != nullptr ? 1 : 0, stop != nullptr ? &stop : nullptr,
                              static_cast<DWORD>(ms) + 1, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

}  // namespace

void DispatchWaiting() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

void Pump(double ms) {
  const double end = NowMs() + ms;
  for (;;) {
    DispatchWaiting();
    const double now = NowMs();
    if (now >= end) return;
    WaitForMessage(end - now, nullptr);
  }
}

bool PumpUntil(const std::function<bool()>& done, double limitMs, double pollMs, HANDLE stop) {
  const double end = NowMs() + limitMs;
  for (;;) {
    DispatchWaiting();
    if (done()) return true;
    const double now = NowMs();
    if (now >= end) return false;
    if (stop != nullptr && WaitForSingleObject(stop, 0) == WAIT_OBJECT_0) return false;
    WaitForMessage(end - now < pollMs ? end - now : pollMs, stop);
  }
}

bool WaitUntil(const std::function<bool()>& done, double limitMs) {
  const double end = NowMs() + limitMs;
  while (!done()) {
    if (NowMs() >= end) return false;
    Sleep(5);
  }
  return true;
}

}  // namespace zol::testing
