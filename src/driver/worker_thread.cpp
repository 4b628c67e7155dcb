// The worker thread and its command channel.
//
// Commands are thread messages kCommandMessageBase + code posted to the worker thread, the
// payload (a zero-terminated copy the poster made) in the first parameter and the value in the
// second. One manual-reset completion event is set when the thread is ready and after every
// command; every post that waits resets it first. A caller that waits also hands a wait ticket
// along with its command and resumes only once that very command has run, so Open judges the
// connect it posted and not a poll tick that happened to finish first.
#include <cstdlib>
#include <cstring>

#include "driver/braille_sample_driver.h"
#include "driver/pumping_wait.h"

namespace zol {

namespace {

constexpr DWORD kReadyWaitMs = 5000;
constexpr UINT kPollIntervalMs = 100;
// A waiting caller wakes at least this often to look again; there is no overall limit.
constexpr DWORD kCommandWaitRoundMs = 5000;

}  // namespace

void CBrailleSampleDriver::YieldToPoster(uint32_t round) {
  // A post takes microseconds: give way to it, after a few rounds for a whole tick.
  Sleep(round < 16 ? 0 : 1);
}

int32_t CBrailleSampleDriver::StartWorkerThread() {
  // The running thread holds a reference on this module and drops it as it exits, so that
  // unloading the module without Close never pulls the code from under it.
  HMODULE pin = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                     reinterpret_cast<LPCSTR>(&CBrailleSampleDriver::WorkerThreadMain), &pin);
  workerModulePin = pin;
  workerState.store(kStarting);
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, &CBrailleSampleDriver::WorkerThreadMain, this, 0, &id);
  if (!thread) {
    workerState.store(kNoWorker);
    workerModulePin = nullptr;
    if (pin) FreeLibrary(pin);
    return 0;
  }
  SetThreadPriority(thread, THREAD_PRIORITY_ABOVE_NORMAL);
  workerThreadId.store(id);
  workerThread.store(thread);
  return 1;
}

bool CBrailleSampleDriver::WaitWorkerReady() {
  HANDLE event = completionEvent.load();
  PumpingWait wait;
  if (wait.Wait(&event, 1, kReadyWaitMs) == 0) return true;
  // Too late: the thread, once it runs, finds itself abandoned and ends without touching
  // anything. Should it have become ready just now, it is used after all.
  int32_t expected = kStarting;
  return !workerState.compare_exchange_strong(expected, kAbandoned);
}

DWORD WINAPI CBrailleSampleDriver::WorkerThreadMain(LPVOID driver) {
  auto* self = static_cast<CBrailleSampleDriver*>(driver);
  HMODULE pin = self->workerModulePin;
  self->RunWorkerThread();
  if (pin) FreeLibraryAndExitThread(pin, 0);
  return 0;
}

void CBrailleSampleDriver::RunWorkerThread() {
  if (const uint32_t delay = workerStartDelayMs.load()) Sleep(delay);
  MSG message;
  // Creates the thread's message queue: posts are accepted from here on.
  PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
  int32_t expected = kStarting;
  if (!workerState.compare_exchange_strong(expected, kRunning)) return;
  workerThreadId.store(GetCurrentThreadId());
  SetEvent(completionEvent.load());
  pollTimerId = SetTimer(nullptr, 0, kPollIntervalMs, nullptr);

  for (;;) {
    const BOOL got = GetMessageA(&message, nullptr, 0, 0);
    if (got == -1) {
      Sleep(1);  // nothing to take; never spin
      continue;
    }
    if (got == 0) continue;  // WM_QUIT: only CMD_STOP ends the loop
    if (message.hwnd == nullptr && IsCommandMessage(message.message)) {
      if (!DispatchCommand(message.message - kCommandMessageBase,
                           reinterpret_cast<uint8_t*>(message.wParam),
                           static_cast<uint64_t>(message.lParam))) {
        break;
      }
    } else if (message.message == WM_TIMER) {
      DispatchCommand(CMD_POLL, nullptr, 0);
    } else {
      DispatchMessageA(&message);
    }
  }
  EndWorkerThread();
}

void CBrailleSampleDriver::EndWorkerThread() {
  // No post lands in this queue any more; the commands still queued are thrown away with their
  // payloads.
  workerState.store(kEnded);
  commandPosts.WaitIdle(YieldToPoster);
  MSG message;
  while (PeekMessageA(&message, reinterpret_cast<HWND>(-1), kCommandMessageBase,
                      kLastCommandMessage, PM_REMOVE)) {
    // PeekMessageA hands out WM_QUIT whatever the filter; it carries no payload.
    if (IsCommandMessage(message.message)) FreePayload(reinterpret_cast<uint8_t*>(message.wParam));
  }
  try {
    Device().Shutdown();
  } catch (...) {
  }
  if (pollTimerId != 0) KillTimer(nullptr, pollTimerId);
  pollTimerId = 0;
}

int32_t CBrailleSampleDriver::PostCommand(CommandCode code, const void* data, uint32_t length,
                                          bool wait) {
  if (!workerThread.load()) return 0;
  // Only the worker thread sets the event after a command: it must never wait for itself.
  if (GetCurrentThreadId() == workerThreadId.load()) wait = false;
  uint8_t* payload = nullptr;
  if (data && length > 0) {
    payload = NewPayload(data, length);
    if (!payload) return 0;
  }
  const uint32_t ticket = wait ? lastWaitTicket.fetch_add(1) + 1 : 0;
  // Only a waiting caller needs the event re-armed (its ticket tells its own command from
  // others); the writes the host streams skip the extra call into the system.
  if (wait) {
    if (HANDLE event = completionEvent.load()) ResetEvent(event);
  }

  BOOL posted = FALSE;
  commandPosts.Enter();
  if (workerState.load() == kRunning) {
    posted = PostThreadMessageA(workerThreadId.load(), kCommandMessageBase + code,
                                reinterpret_cast<WPARAM>(payload),
                                static_cast<LPARAM>(PackCommandParam(length, ticket)));
  }
  commandPosts.Leave();
  if (!posted) {
    FreePayload(payload);
    return 0;
  }
  if (ticket != 0) WaitForCommand(ticket);
  return 1;
}

void CBrailleSampleDriver::WaitForCommand(uint32_t ticket) {
  // The thread handle ends the wait too, should the worker thread be gone.
  HANDLE handles[2] = {completionEvent.load(), workerThread.load()};
  PumpingWait wait;
  for (;;) {
    if (completedWaitTicket.load() == ticket) return;
    const int signalled = wait.Wait(handles, 2, kCommandWaitRoundMs);
    if (signalled == 0) {
      // Another command completed. Look again after re-arming the event: the worker thread
      // publishes the ticket before it sets the event.
      if (completedWaitTicket.load() == ticket) return;
      ResetEvent(handles[0]);
    } else if (signalled == 1) {
      return;
    } else if (WaitForMultipleObjects(2, handles, FALSE, 0) == WAIT_FAILED) {
      return;  // the handles are unusable: nothing will ever signal them
    }
  }
}

int32_t CBrailleSampleDriver::DispatchCommand(uint32_t code, uint8_t* payload, uint64_t param) {
  try {
    RunCommand(code, payload, CommandValue(param));
  } catch (...) {
    // A command always completes; its own result is not reported.
  }
  FreePayload(payload);
  if (const uint32_t ticket = CommandWaitTicket(param)) completedWaitTicket.store(ticket);
  if (HANDLE event = completionEvent.load()) SetEvent(event);
  return code == CMD_STOP ? 0 : 1;
}

void CBrailleSampleDriver::RunCommand(uint32_t code, const uint8_t* payload, uint32_t value) {
  const int32_t count = static_cast<int32_t>(value);
  switch (code) {
    case CMD_CONNECT:
      lastConnectResult.store(
          Device().Connect(payload ? reinterpret_cast<const char*>(payload) : ""));
      break;
    case CMD_DISCONNECT:
      Device().Disconnect();
      break;
    case CMD_SUSPEND:
      Device().Suspend(static_cast<int32_t>(value));
      break;
    case CMD_WRITE_TEXT:
      if (payload && count > 0) Device().WriteText(payload, count);
      break;
    case CMD_WRITE_ALL:
      if (payload && count > 0) Device().WriteAll(payload, count);
      break;
    case CMD_CLEAR:
      Device().Clear();
      break;
    case CMD_POLL:
      Device().PollTick();
      break;
    default:  // CMD_STOP ends the loop, CMD_NOP only completes
      break;
  }
}

uint8_t* CBrailleSampleDriver::NewPayload(const void* data, uint32_t length) {
  // length + 1 zero bytes, so that a text payload is always terminated.
  auto* payload = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(length) + 1, 1));
  if (!payload) return nullptr;
  std::memcpy(payload, data, length);
  livePayloads.fetch_add(1);
  return payload;
}

void CBrailleSampleDriver::FreePayload(uint8_t* payload) {
  if (!payload) return;
  std::free(payload);
  livePayloads.fetch_sub(1);
}

}  // namespace zol
