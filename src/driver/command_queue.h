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
class CommandQueue {
 public:
  // True when the queue was empty: the worker thread may be asleep and must be woken.
  bool Push(QueuedCommand* command) {
    QueuedCommand* head = head_.load();
    do {
      command->next = head;
    } while (!head_.compare_exchange_weak(head, command));
    return head == nullptr;
  }

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
};

}  // namespace zol
