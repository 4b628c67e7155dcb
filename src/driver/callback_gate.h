// The host's callbacks in progress. Platform-neutral and header-only, so that the native tests
// and the fuzzer run the same code.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace zol {

// Lets SetHost return only once the callback object it replaced can no longer be called from
// another thread. A callback enters before it reads the host pointer and leaves after the call
// returns; all operations are sequentially consistent, so a callback that read the old pointer
// had entered before the pointer was replaced, and the replacer sees it in progress.
//
// Each thread's own callbacks are counted too (threads are named by a non-zero number): a
// callback that calls into the driver may deliver another one on the same thread (the driver's
// waits pump messages), and a SetHost made from inside a callback must not wait for itself.
// Callbacks only ever run on the worker thread and on the threads that own a hidden window, so
// a few entries are plenty; a thread that finds none free is counted only in the total.
class CallbackGate {
 public:
  static constexpr size_t kThreads = 8;

  void Enter(uint32_t thread) {
    if (Entry* entry = Find(thread, true)) ++entry->depth;
    inProgress_.fetch_add(1);
  }
  void Leave(uint32_t thread) {
    inProgress_.fetch_sub(1);
    Entry* entry = Find(thread, false);
    if (entry != nullptr && --entry->depth == 0) entry->thread.store(0);
  }
  // True while thread is inside a callback.
  bool InCallback(uint32_t thread) const { return Depth(thread) > 0; }
  // True when every callback in progress runs on thread.
  bool OthersIdle(uint32_t thread) const { return inProgress_.load() <= Depth(thread); }

 private:
  struct Entry {
    std::atomic<uint32_t> thread{0};
    int32_t depth = 0;  // touched only by that thread
  };

  Entry* Find(uint32_t thread, bool claim) {
    for (Entry& entry : entries_)
      if (entry.thread.load() == thread) return &entry;
    if (!claim) return nullptr;
    for (Entry& entry : entries_) {
      uint32_t free = 0;
      if (entry.thread.compare_exchange_strong(free, thread)) return &entry;
    }
    return nullptr;
  }
  int32_t Depth(uint32_t thread) const {
    for (const Entry& entry : entries_)
      if (entry.thread.load() == thread) return entry.depth;
    return 0;
  }

  std::atomic<int32_t> inProgress_{0};
  Entry entries_[kThreads];
};

}  // namespace zol
