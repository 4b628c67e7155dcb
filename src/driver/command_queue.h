// The commands on their way from the host's threads to the worker thread. Platform-neutral.
#pragma once

#include <atomic>
#include <cstdint>

namespace zol {

// One command: its code, its parameter (value and wait ticket, see PackCommandParam) and, when
// it carries data, the payload right after it in the same allocation: length bytes and a zero.
struct QueuedCommand {
  QueuedCommand* next = nullptr;
  uint32_t code = 0;
  uint32_t length = 0;  // payload bytes, 0 when there is no payload
  uint64_t param = 0;

  uint8_t* payload() { return length != 0 ? reinterpret_cast<uint8_t*>(this + 1) : nullptr; }
};

// Any thread pushes, the worker thread takes everything pushed so far in one step, in the order
// pushed. Without locks: a host that writes back to back costs the worker thread no system call
// per command, so that the worker drains the queue faster than any host fills it, and a
// command never waits behind a lock the worker thread holds.
//
// A wake costs a call into the system on both sides, so the poster wakes the worker thread only
// when the queue was empty and the worker has said it is about to sleep. Both sides write their
// own flag before they read the other's (sequentially consistent), so either the worker sees the
// command before it sleeps or the poster sees that it sleeps.
class CommandQueue {
 public:
  // True when the worker thread must be woken for this command.
  bool Push(QueuedCommand* command) {
    QueuedCommand* head = head_.load();
    do {
      command->next = head;
    } while (!head_.compare_exchange_weak(head, command));
    return head == nullptr && sleeping_.load();
  }

  // The worker thread is about to sleep: true when it may, false when a command is waiting.
  bool PrepareToSleep() {
    sleeping_.store(true);
    return head_.load() == nullptr;
  }

  // The worker thread is awake and will look at the queue before it sleeps again.
  void Awake() { sleeping_.store(false); }

  // Every command pushed so far, oldest first; null when there is none.
  QueuedCommand* TakeAll() {
    QueuedCommand* newestFirst = head_.exchange(nullptr);
    QueuedCommand* oldestFirst = nullptr;
    while (newestFirst != nullptr) {
      QueuedCommand* next = newestFirst->next;
      newestFirst->next = oldestFirst;
      oldestFirst = newestFirst;
      newestFirst = next;
    }
    return oldestFirst;
  }

 private:
  std::atomic<QueuedCommand*> head_{nullptr};
  std::atomic<bool> sleeping_{true};
};

}  // namespace zol
