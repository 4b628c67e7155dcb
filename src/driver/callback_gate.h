// The host's callbacks in progress. Platform-neutral and header-only, so that the native tests
// and the fuzzer run the same code.
#pragma once

#include <atomic>
#include <cstdint>

namespace zol {

// Lets SetHost return only once the callback object it replaced can no longer be called from
// another thread. A callback enters before it reads the host pointer and leaves after the call
// returns; all operations are sequentially consistent, so a callback that read the old pointer
// had entered before the pointer was replaced, and the replacer sees it in progress.
//
// Each thread also counts its own callbacks: a callback that calls into the driver may deliver
// another one on the same thread (the driver's waits pump messages), and a SetHost made from
// inside a callback must not wait for itself.
class CallbackGate {
 public:
  void Enter() {
    ++depthOnThisThread_;
    inProgress_.fetch_add(1);
  }
  void Leave() {
    inProgress_.fetch_sub(1);
    --depthOnThisThread_;
  }
  // True while the calling thread is inside a callback.
  bool InCallback() const { return depthOnThisThread_ > 0; }
  // True when every callback in progress runs on the calling thread.
  bool OthersIdle() const { return inProgress_.load() <= depthOnThisThread_; }

 private:
  std::atomic<int32_t> inProgress_{0};
  static inline thread_local int32_t depthOnThisThread_ = 0;
};

// Enter and Leave around one callback.
class CallbackScope {
 public:
  explicit CallbackScope(CallbackGate& gate) : gate_(gate) { gate_.Enter(); }
  ~CallbackScope() { gate_.Leave(); }
  CallbackScope(const CallbackScope&) = delete;
  CallbackScope& operator=(const CallbackScope&) = delete;

 private:
  CallbackGate& gate_;
};

}  // namespace zol
