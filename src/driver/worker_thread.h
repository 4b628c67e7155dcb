// The worker thread and its command channel: the one thread that does all device input and
// output. The host's threads post commands to it; Open starts it and Close stops it.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "driver/command_channel.h"
#include "driver/command_queue.h"
#include "driver/device_side.h"
#include "driver/post_gate.h"

namespace zol {

class WorkerThread {
 public:
  // parts: what the device side is attached with, on the first worker thread that runs.
  explicit WorkerThread(const DriverParts& parts) : parts_(parts) {}
  // Only the handles of a worker thread that ended after Stop had stopped waiting for it are
  // left by then: a running thread keeps the module, and so this object, alive.
  ~WorkerThread();
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // A worker thread that was still busy when Stop stopped waiting for it: waits up to 5000 ms
  // more for it to end. True when no such thread is left.
  bool ReapRetired();
  // Starts the thread and waits up to 5000 ms until it takes commands. False when it cannot,
  // with nothing left running.
  bool Start();
  // Posts CMD_STOP, waits up to 5000 ms for the thread to end and closes the completion event.
  // A thread still busy then is kept (retired) until ReapRetired sees it ended, so that no
  // second worker thread starts beside it and it never signals a closed or reused handle.
  void Stop();

  // Queues a command and returns without waiting, or with wait once that very command has run
  // (answering messages sent to the calling thread meanwhile; never on the worker thread
  // itself). Non-zero when queued; 0 without a running thread or when the queue is full.
  int32_t Post(CommandCode code, const void* data, uint32_t length, bool wait);

  // The running thread's id, else 0.
  DWORD ThreadId() const { return threadId_.load(); }
  // Result of the last CMD_CONNECT since Start.
  int32_t ConnectResult() const { return lastConnectResult_.load(); }
  // Commands posted and not yet run or freed.
  int32_t LivePayloads() const { return static_cast<int32_t>(liveCommands_.load()); }
  // Holds a new worker thread this long before it creates its message queue.
  void SetStartDelayForTesting(uint32_t ms) { startDelayMs_.store(ms); }

 private:
  // Life of the thread, as far as posting is concerned. Commands are accepted only while it is
  // kRunning.
  enum State : int32_t { kNoWorker, kStarting, kRunning, kAbandoned, kEnded };

  // The device side, attached on first use (the first worker thread), never at module load.
  DeviceService& Device();
  bool StartThread();
  bool WaitReady();
  static DWORD WINAPI ThreadMain(LPVOID worker);
  // The loop, top to bottom.
  void Run();
  // Sleeps until the display sends something, a message or command arrives, or timeoutMs pass.
  void WaitForWork(DWORD timeoutMs);
  // Handles the messages of the thread's queue (at most a bound per wake): those for windows of
  // the thread are dispatched; thread messages (the wake, or anyone's) only wake it.
  void RunThreadMessages();
  // Runs the queued commands, at most a bound per wake; those taken and not yet run stay in
  // pending. False after CMD_STOP.
  bool RunQueuedCommands(QueuedCommand*& pending);
  void End(QueuedCommand* pending);
  void WaitForCommand(uint32_t waitTicket);
  int32_t Dispatch(uint32_t code, uint8_t* payload, uint64_t param);
  QueuedCommand* NewCommand(uint32_t code, const void* data, uint32_t length, uint64_t param);
  void FreeCommand(QueuedCommand* command);

  const DriverParts parts_;
  std::atomic<HANDLE> thread_{nullptr};
  // Manual-reset: set when the thread is ready and after every command somebody waits for.
  std::atomic<HANDLE> completionEvent_{nullptr};
  std::atomic<DWORD> threadId_{0};
  std::atomic<int32_t> state_{kNoWorker};
  // Reference on this module held by the running thread, dropped as the thread exits.
  HMODULE modulePin_ = nullptr;
  // A thread that had not ended within 5000 ms of CMD_STOP, and its completion event (host
  // threads only).
  HANDLE retiredThread_ = nullptr;
  HANDLE retiredEvent_ = nullptr;
  // Wait tickets: the last handed out (host threads) and the last whose command has run.
  std::atomic<uint32_t> lastWaitTicket_{0};
  std::atomic<uint32_t> completedWaitTicket_{0};
  std::atomic<int32_t> lastConnectResult_{0};
  CommandQueue commands_;
  // Commands allocated and not yet freed: queued, or taken and not yet run.
  std::atomic<uint32_t> liveCommands_{0};
  PostGate posts_;
  std::atomic<uint32_t> startDelayMs_{0};
};

}  // namespace zol
