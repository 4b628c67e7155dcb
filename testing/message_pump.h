// Waits on a test's thread. Most keep the calling thread's messages flowing: the driver delivers
// key events to the host through the message loop of the thread that opened it, so a test, the
// benchmark or a host program that waits on that thread must dispatch meanwhile.
#pragma once

#include <windows.h>

#include <functional>

namespace zol::testing {

// Dispatches the messages waiting for this thread without waiting.
void DispatchWaiting();

// Dispatches this thread's messages for ms.
void Pump(double ms);

// Dispatches this thread's messages until done() holds or limitMs passed: done() is tested
// after each dispatch, on every message and at least every pollMs. False when time ran out,
// or when stop (if given) was signalled first.
bool PumpUntil(const std::function<bool()>& done, double limitMs = 5000, double pollMs = 1,
               HANDLE stop = nullptr);

// Waits until done() holds or limitMs passed, looking every 5 ms, and leaves this thread's
// messages queued: for a condition that another thread makes true.
bool WaitUntil(const std::function<bool()>& done, double limitMs = 5000);

}  // namespace zol::testing
