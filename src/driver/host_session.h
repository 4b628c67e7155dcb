// The host's lifecycle calls (Open, Close, SetSuspended, SetHost) and the calls into the host.
// Platform-neutral and header-only: the driver object runs it over Windows, the
// host-operations fuzzer over a simulation with threads of its own.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>

#include "core/shared_state.h"
#include "driver/callback_gate.h"
#include "driver/command_channel.h"
#include "driver/session_state.h"
#include "zol/braille_driver.h"

namespace zol {

// What a session needs of the platform. Threads are named by non-zero numbers.
class SessionPlatform {
 public:
  virtual ~SessionPlatform() = default;
  virtual uint32_t CurrentThread() = 0;
  // The worker thread while one runs, else 0.
  virtual uint32_t WorkerThread() = 0;
  // Starts the worker thread and waits until it takes commands; false when it cannot, with
  // nothing left running.
  virtual bool StartWorker() = 0;
  // Queues a command for the worker thread. With wait, returns once that very command has run,
  // answering messages sent to the calling thread meanwhile. Non-zero when queued.
  virtual int32_t Post(CommandCode code, const void* data, uint32_t length, bool wait) = 0;
  // Whether the last CMD_CONNECT found a display.
  virtual bool Connected() = 0;
  // Stops the worker thread, waits for it to end (bounded) and releases what the session holds
  // besides the hidden window.
  virtual void StopWorker() = 0;
  // Open has connected: the host's two texts are kept and the hidden window made on this
  // thread.
  virtual void Opened(const char* text1, const char* text2) = 0;
  // The hidden window: whether there is one, one made on the calling thread, its destruction.
  virtual bool WindowExists() = 0;
  virtual void CreateWindowHere() = 0;
  virtual void DestroyWindow() = 0;
  // Asks the hidden window's thread to call HostSession::CloseRequested when it next takes its
  // messages.
  virtual void AskWindowThreadToClose() = 0;
  // Gives way while SetHost waits for callbacks on other threads, answering messages sent to
  // the calling thread.
  virtual void YieldToCallbacks() = 0;
};

// Which call does the work, which waits and which only queues:
// - Open and Close follow one lifecycle (SessionState): an Open while another runs or the driver
//   is open, or from inside a callback, returns 0; a Close while another runs (on another
//   thread, or further out on this one) returns at once.
// - A call from inside OnKeyEvent never waits for its own delivery: SetSuspended queues its
//   command and returns; Close does its work (the worker thread never waits for this thread).
// - A call from inside OnDeviceData runs on the worker thread: it never waits for the worker and
//   never makes or destroys a window there. Close queues the disconnect and leaves the rest to
//   the hidden window's thread.
// - SetHost returns once no callback into the old host runs on another thread; on the worker
//   thread it stops waiting when a host thread waits for the worker (that thread's callback
//   cannot return before the worker's has).
class HostSession {
 public:
  HostSession(SessionPlatform& platform, SharedState& shared)
      : platform_(platform), shared_(shared) {}
  HostSession(const HostSession&) = delete;
  HostSession& operator=(const HostSession&) = delete;

  // 1 when a display answered; host and the two texts are then kept.
  int32_t Open(const char* portName, IBrailleHost* host, const char* text1 = nullptr,
               const char* text2 = nullptr);
  void Close();
  // The hidden window's thread, asked by AskWindowThreadToClose.
  void CloseRequested() {
    if (closeRequested_.exchange(false)) Close();
  }
  int32_t SetSuspended(int32_t suspend);
  IBrailleHost* SetHost(IBrailleHost* host);

  // Runs call(host) with the current host, if one is set, as a callback of this thread.
  template <class Call>
  void CallHost(Call&& call);

  bool InCallback() { return callbacks_.InCallback(platform_.CurrentThread()); }
  SessionState::Phase phase() const { return state_.phase(); }
  IBrailleHost* host() const { return host_.load(); }

 private:
  bool OnWorker() {
    const uint32_t worker = platform_.WorkerThread();
    return worker != 0 && worker == platform_.CurrentThread();
  }
  // A host thread's waits for the worker thread, counted for SetHost on the worker.
  int32_t PostAndWait(CommandCode code, const void* data = nullptr, uint32_t length = 0) {
    workerWaiters_.fetch_add(1);
    const int32_t posted = platform_.Post(code, data, length, true);
    workerWaiters_.fetch_sub(1);
    return posted;
  }
  void StopWorker() {
    workerWaiters_.fetch_add(1);
    platform_.StopWorker();
    workerWaiters_.fetch_sub(1);
  }

  SessionPlatform& platform_;
  SharedState& shared_;
  SessionState state_;
  CallbackGate callbacks_;
  std::atomic<IBrailleHost*> host_{nullptr};
  std::atomic<int32_t> workerWaiters_{0};
  std::atomic<bool> closeRequested_{false};
};

inline int32_t HostSession::Open(const char* portName, IBrailleHost* host, const char* text1,
                                 const char* text2) {
  // From inside a callback the driver is open (or being closed) by definition.
  if (InCallback() || !state_.BeginOpen()) return 0;
  struct Finish {
    SessionState& state;
    bool opened = false;
    ~Finish() { state.EndOpen(opened); }
  } finish{state_};
  closeRequested_.store(false);
  if (!platform_.StartWorker()) return 0;
  // A suspension left from before (the host's, or the driver's own after lost
  // acknowledgements, followed by Close) would keep the connect from sending anything.
  shared_.suspended.store(0);
  const size_t length = portName != nullptr ? std::strlen(portName) : 0;
  PostAndWait(CMD_CONNECT, portName, static_cast<uint32_t>(length));
  if (!platform_.Connected()) {
    StopWorker();
    platform_.DestroyWindow();
    return 0;
  }
  host_.store(host);
  platform_.Opened(text1, text2);
  finish.opened = true;
  return 1;
}

inline void HostSession::Close() {
  if (OnWorker()) {
    // The display is let go of as soon as the callback returns; the rest (ending this very
    // thread, destroying the window) belongs to the window's thread. Without a window (the host
    // suspended the driver meanwhile) the host's own Close finishes it.
    if (!state_.open() || closeRequested_.exchange(true)) return;
    platform_.Post(CMD_DISCONNECT, nullptr, 0, false);
    platform_.AskWindowThreadToClose();
    return;
  }
  if (!state_.BeginClose()) return;
  struct Finish {
    SessionState& state;
    ~Finish() { state.EndClose(); }
  } finish{state_};
  PostAndWait(CMD_DISCONNECT);
  StopWorker();
  platform_.DestroyWindow();
}

inline int32_t HostSession::SetSuspended(int32_t suspend) {
  // The value the worker thread marks its own suspension with is never the host's. A host that
  // suspends a driver that suspended itself takes the suspension over: the driver then never
  // ends it.
  const int32_t value = suspend == SharedState::kSuspendedByDriver ? 1 : suspend;
  if (shared_.suspended.load() == value) return 1;
  if (!state_.open()) return 0;
  if (shared_.suspended.exchange(value) == value) return 1;
  // Windows are made and destroyed on the host's threads only: keys keep reaching the thread
  // that had them.
  if (!OnWorker()) {
    if (value != 0) {
      platform_.DestroyWindow();
    } else if (!platform_.WindowExists()) {
      platform_.CreateWindowHere();
    }
  }
  // Inside a callback the command is only queued: the caller may be the very delivery, or the
  // worker thread, that the wait would wait for.
  if (InCallback())
    return platform_.Post(CMD_SUSPEND, nullptr, static_cast<uint32_t>(value), false);
  return PostAndWait(CMD_SUSPEND, nullptr, static_cast<uint32_t>(value));
}

inline IBrailleHost* HostSession::SetHost(IBrailleHost* host) {
  IBrailleHost* previous = host_.exchange(host);
  const uint32_t thread = platform_.CurrentThread();
  const bool onWorker = OnWorker();
  while (!callbacks_.OthersIdle(thread)) {
    if (onWorker && workerWaiters_.load() > 0) break;
    platform_.YieldToCallbacks();
  }
  return previous;
}

template <class Call>
void HostSession::CallHost(Call&& call) {
  struct Scope {
    CallbackGate& gate;
    uint32_t thread;
    Scope(CallbackGate& g, uint32_t t) : gate(g), thread(t) { gate.Enter(thread); }
    ~Scope() { gate.Leave(thread); }
  } scope(callbacks_, platform_.CurrentThread());
  if (IBrailleHost* current = host_.load()) call(current);
}

}  // namespace zol
