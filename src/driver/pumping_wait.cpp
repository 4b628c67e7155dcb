#include "driver/pumping_wait.h"

namespace zol {

PumpingWait::~PumpingWait() {
  if (quitSeen_) PostQuitMessage(static_cast<int>(quitCode_));
}

int PumpingWait::Wait(const HANDLE* handles, DWORD count, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    const DWORD elapsed = GetTickCount() - start;
    const DWORD remaining = elapsed >= timeoutMs ? 0 : timeoutMs - elapsed;
    const DWORD result =
        MsgWaitForMultipleObjects(count, handles, FALSE, remaining, QS_SENDMESSAGE);
    if (result < WAIT_OBJECT_0 + count) return static_cast<int>(result - WAIT_OBJECT_0);
    if (result != WAIT_OBJECT_0 + count) return -1;  // time-out or failure
    PumpQueue();
  }
}

void PumpingWait::PumpQueue() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      quitSeen_ = true;
      quitCode_ = message.wParam;
      continue;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

}  // namespace zol
