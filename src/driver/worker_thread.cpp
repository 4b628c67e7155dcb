// The worker thread and its command channel.
//
// The host's threads queue commands in process (command_queue.h): a payload copy with a zero
// byte after it, the code, and the value. A command that lands in an empty queue while the
// worker thread sleeps wakes it with a thread message; an awake worker looks at the queue
// before it sleeps, so a host streaming writes costs no wake per write. One manual-reset
// completion event is set when the thread is ready and after every command somebody waits
// for: a caller that waits hands a wait ticket along with its command and resumes only once
// that very command has run, so Open judges the connect it posted and not a poll tick that
// happened to finish first.
//
// The loop. The thread sleeps in MsgWaitForMultipleObjectsEx until the display has sent
// something (the links' input events), a message or command arrives, or the next poll tick is
// due. Each wake then, in this order: handles the thread's messages, takes what the display
// sent, runs the queued commands, and runs the poll tick if it is due. Every step is bounded,
// so a host that streams writes never holds back keys or the tick, and the tick runs every
// 100 ms whatever else arrives; the commands go before the tick so that a Close never waits
// behind the tick's slow work (a search for a lost display).
//
// Thread messages carry nothing but the wake: any program on the desktop that learns the
// thread's id can post to it, so no thread message is ever taken as a command or a pointer.
#include "driver/worker_thread.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>

#include "core/poll_schedule.h"
#include "driver/device_command.h"
#include "driver/pumping_wait.h"
#include "platform/win32/win32_clock.h"

namespace zol {

namespace {

// How long Start waits for the thread to be ready, and Stop and ReapRetired for it to end.
constexpr DWORD kWorkerWaitMs = 5000;
constexpr uint32_t kPollIntervalMs = 100;
// A waiting caller wakes at least this often to look again; there is no overall limit.
constexpr DWORD kCommandWaitRoundMs = 5000;
// Per wake at most; what is left waits for the next pass through the loop, which follows at
// once. A streamed write costs the thread about a microsecond, a pass through the loop two
// calls into the system (under Wine, to its server) and more: 256 commands drain the 1000 a
// host can queue in four passes, and keep input and the tick waiting well under a millisecond.
constexpr int kCommandsPerWake = 256;
constexpr int kMessagesPerWake = 64;
constexpr size_t kMaxInputEvents = 4;

}  // namespace

WorkerThread::~WorkerThread() {
  if (retiredThread_) CloseHandle(retiredThread_);
  if (retiredEvent_) CloseHandle(retiredEvent_);
}

DeviceService& WorkerThread::Device() {
  // Attached on first use rather than at construction: that runs under the loader lock, and the
  // device side's own statics may not be constructed yet. Only worker threads get here, one at
  // a time: the guards of these statics go through the threads runtime, which keeps a record
  // (an event and a thread handle) of each thread that passes them until that thread ends. A
  // worker thread ends while the module is loaded; a host thread would outlive the module and
  // leave the record behind, once per load.
  static DeviceService& device = AttachDeviceSide(parts_);
  return device;
}

bool WorkerThread::ReapRetired() {
  if (!retiredThread_) return true;
  PumpingWait wait;
  if (wait.Wait(&retiredThread_, 1, kWorkerWaitMs) != 0) return false;
  CloseHandle(retiredThread_);
  if (retiredEvent_) CloseHandle(retiredEvent_);
  retiredThread_ = nullptr;
  retiredEvent_ = nullptr;
  return true;
}

bool WorkerThread::Start() {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!event) return false;
  completionEvent_.store(event);
  ResetEvent(event);
  if (!StartThread() || !WaitReady()) {
    Stop();
    return false;
  }
  lastConnectResult_.store(0);
  return true;
}

void WorkerThread::Stop() {
  if (HANDLE thread = thread_.load()) {
    Post(CMD_STOP, nullptr, 0, false);
    PumpingWait wait;
    const bool ended = wait.Wait(&thread, 1, kWorkerWaitMs) == 0;
    thread_.store(nullptr);
    threadId_.store(0);
    if (ended) {
      CloseHandle(thread);
    } else {
      retiredThread_ = thread;
      retiredEvent_ = completionEvent_.exchange(nullptr);
    }
  }
  if (HANDLE event = completionEvent_.exchange(nullptr)) CloseHandle(event);
}

bool WorkerThread::StartThread() {
  // The running thread holds a reference on this module and drops it as it exits, so that
  // unloading the module without Close never pulls the code from under it.
  HMODULE pin = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                     reinterpret_cast<LPCSTR>(&WorkerThread::ThreadMain), &pin);
  modulePin_ = pin;
  state_.store(kStarting);
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, &WorkerThread::ThreadMain, this, 0, &id);
  if (!thread) {
    state_.store(kNoWorker);
    modulePin_ = nullptr;
    if (pin) FreeLibrary(pin);
    return false;
  }
  SetThreadPriority(thread, THREAD_PRIORITY_ABOVE_NORMAL);
  threadId_.store(id);
  thread_.store(thread);
  return true;
}

bool WorkerThread::WaitReady() {
  HANDLE event = completionEvent_.load();
  PumpingWait wait;
  if (wait.Wait(&event, 1, kWorkerWaitMs) == 0) return true;
  // Too late: the thread, once it runs, finds itself abandoned and ends without touching
  // anything. Should it have become ready just now, it is used after all.
  int32_t expected = kStarting;
  return !state_.compare_exchange_strong(expected, kAbandoned);
}

DWORD WINAPI WorkerThread::ThreadMain(LPVOID worker) {
  auto* self = static_cast<WorkerThread*>(worker);
  HMODULE pin = self->modulePin_;
  self->Run();
  if (pin) FreeLibraryAndExitThread(pin, 0);
  return 0;
}

void WorkerThread::Run() {
  if (const uint32_t delay = startDelayMs_.load()) Sleep(delay);
  MSG message;
  // Creates the thread's message queue: the wake messages are accepted from here on.
  PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
  int32_t expected = kStarting;
  if (!state_.compare_exchange_strong(expected, kRunning)) return;
  threadId_.store(GetCurrentThreadId());
  SetEvent(completionEvent_.load());

  win32::Win32Clock clock;
  PollSchedule ticks(clock.Now(), kPollIntervalMs);
  QueuedCommand* pending = nullptr;
  for (;;) {
    DWORD timeoutMs = pending != nullptr ? 0 : ticks.MsUntilDue(clock.Now());
    if (timeoutMs != 0 && !commands_.PrepareToSleep()) timeoutMs = 0;
    WaitForWork(timeoutMs);
    commands_.Awake();
    RunThreadMessages();
    try {
      Device().ServiceInput();
    } catch (...) {
    }
    if (!RunQueuedCommands(pending)) break;
    if (ticks.TakeDue(clock.Now())) Dispatch(CMD_POLL, nullptr, 0);
  }
  End(pending);
}

void WorkerThread::WaitForWork(DWORD timeoutMs) {
  uintptr_t events[kMaxInputEvents];
  size_t count = 0;
  try {
    count = Device().InputEvents(events, kMaxInputEvents);
  } catch (...) {
  }
  HANDLE handles[kMaxInputEvents];
  for (size_t i = 0; i < count; ++i) handles[i] = reinterpret_cast<HANDLE>(events[i]);
  const DWORD result = MsgWaitForMultipleObjectsEx(static_cast<DWORD>(count), handles, timeoutMs,
                                                   QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  // A handle that cannot be waited on must not turn the loop into a spin: wait without it.
  if (result == WAIT_FAILED && count != 0)
    MsgWaitForMultipleObjectsEx(0, nullptr, timeoutMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

void WorkerThread::RunThreadMessages() {
  MSG message;
  for (int handled = 0;
       handled < kMessagesPerWake && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE); ++handled) {
    // The wake, WM_QUIT (only CMD_STOP ends the loop) or anyone's thread message: each has
    // done its part by waking the thread.
    if (message.hwnd == nullptr) continue;
    DispatchMessageA(&message);
  }
}

bool WorkerThread::RunQueuedCommands(QueuedCommand*& pending) {
  if (pending == nullptr) pending = commands_.TakeAll();
  for (int run = 0; pending != nullptr && run < kCommandsPerWake; ++run) {
    QueuedCommand* command = pending;
    pending = command->next;
    const int32_t go = Dispatch(command->code, command->payload(), command->param);
    FreeCommand(command);
    if (!go) return false;
  }
  return true;
}

void WorkerThread::End(QueuedCommand* pending) {
  // No command lands in the queue any more; those still queued are thrown away.
  state_.store(kEnded);
  posts_.WaitIdle(YieldToPoster);
  for (QueuedCommand* list : {pending, commands_.TakeAll()}) {
    while (list != nullptr) {
      QueuedCommand* next = list->next;
      FreeCommand(list);
      list = next;
    }
  }
  threadId_.store(0);
  try {
    Device().Shutdown();
  } catch (...) {
  }
}

int32_t WorkerThread::Post(CommandCode code, const void* data, uint32_t length, bool wait) {
  if (!thread_.load()) return 0;
  // Only the worker thread sets the event after a command: it must never wait for itself.
  if (GetCurrentThreadId() == threadId_.load()) wait = false;
  if (liveCommands_.load() >= kMaxQueuedCommands) {
    // A host that writes in a loop without pause gives up its core for a moment, so that the
    // worker thread and the system's own threads get on with the queue. Yielding the time
    // slice alone is not enough: under Wine the worker's higher priority counts for nothing,
    // and a yield comes straight back to a thread that is still runnable.
    Sleep(1);
    return 0;
  }
  const uint32_t ticket = wait ? lastWaitTicket_.fetch_add(1) + 1 : 0;
  QueuedCommand* command = NewCommand(code, data, length, PackCommandParam(length, ticket));
  if (!command) return 0;
  // Only a waiting caller needs the event re-armed (its ticket tells its own command from
  // others); the writes the host streams skip the extra call into the system.
  if (wait) {
    if (HANDLE event = completionEvent_.load()) ResetEvent(event);
  }

  bool queued = false;
  posts_.Enter();
  if (state_.load() == kRunning) {
    queued = true;
    // A failed wake is made up for when the next poll tick falls due, which ends the worker's
    // wait anyway.
    if (commands_.Push(command)) PostThreadMessageA(threadId_.load(), kWakeMessage, 0, 0);
  }
  posts_.Leave();
  if (!queued) {
    FreeCommand(command);
    return 0;
  }
  if (ticket != 0) WaitForCommand(ticket);
  return 1;
}

void WorkerThread::WaitForCommand(uint32_t ticket) {
  // The thread handle ends the wait too, should the worker thread be gone.
  HANDLE handles[2] = {completionEvent_.load(), thread_.load()};
  PumpingWait wait;
  for (;;) {
    if (completedWaitTicket_.load() == ticket) return;
    const int signalled = wait.Wait(handles, 2, kCommandWaitRoundMs);
    if (signalled == 0) {
      // Another command completed. Look again after re-arming the event: the worker thread
      // publishes the ticket before it sets the event.
      if (completedWaitTicket_.load() == ticket) return;
      ResetEvent(handles[0]);
    } else if (signalled == 1) {
      return;
    } else if (WaitForMultipleObjects(2, handles, FALSE, 0) == WAIT_FAILED) {
      return;  // the handles are unusable: nothing will ever signal them
    }
  }
}

int32_t WorkerThread::Dispatch(uint32_t code, uint8_t* payload, uint64_t param) {
  try {
    const int result = RunDeviceCommand(Device(), code, payload, CommandValue(param));
    if (code == CMD_CONNECT) lastConnectResult_.store(result);
  } catch (...) {
    // A command always completes; its own result is not reported.
  }
  if (const uint32_t ticket = CommandWaitTicket(param)) {
    completedWaitTicket_.store(ticket);
    if (HANDLE event = completionEvent_.load()) SetEvent(event);
  }
  return code == CMD_STOP ? 0 : 1;
}

QueuedCommand* WorkerThread::NewCommand(uint32_t code, const void* data, uint32_t length,
                                        uint64_t param) {
  // The payload follows the command, with a zero byte after it, so a text is always
  // terminated.
  const uint32_t payloadLength = data && length > 0 ? length : 0;
  const size_t size = sizeof(QueuedCommand) + (payloadLength ? payloadLength + 1u : 0u);
  void* memory = std::calloc(size, 1);
  if (!memory) return nullptr;
  auto* command = new (memory) QueuedCommand;
  command->code = code;
  command->length = payloadLength;
  command->param = param;
  if (payloadLength) std::memcpy(command->payload(), data, payloadLength);
  liveCommands_.fetch_add(1);
  return command;
}

void WorkerThread::FreeCommand(QueuedCommand* command) {
  if (!command) return;
  std::free(command);
  liveCommands_.fetch_sub(1);
}

}  // namespace zol
