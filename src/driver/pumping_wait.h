// How the driver's threads wait: for a post in progress to land, and (the host's threads) for
// handles while answering messages sent to the thread.
#pragma once

#include <windows.h>

#include <cstdint>

namespace zol {

// Gives way to a post in progress (PostGate::WaitIdle): a post takes microseconds, so the first
// rounds only yield the time slice and later ones a whole tick.
inline void YieldToPoster(uint32_t round) {
  Sleep(round < 16 ? 0 : 1);
}

// Waits for handles while handling every message sent to the calling thread from another
// thread; each time such a message arrives, the whole queue of the thread is pumped
// (PeekMessageA with PM_REMOVE, TranslateMessage, DispatchMessageA), posted messages included.
// A WM_QUIT met there is held back and posted again when the object goes away, so the host's
// own message loop still sees it after the driver's call returns.
class PumpingWait {
 public:
  PumpingWait() = default;
  PumpingWait(const PumpingWait&) = delete;
  PumpingWait& operator=(const PumpingWait&) = delete;
  ~PumpingWait();

  // Waits until one of count handles is signalled or timeoutMs have passed. Returns the index of
  // the signalled handle, or -1 on time-out or when the handles cannot be waited on.
  int Wait(const HANDLE* handles, DWORD count, DWORD timeoutMs);

 private:
  void PumpQueue();

  bool quitSeen_ = false;
  WPARAM quitCode_ = 0;
};

}  // namespace zol
