#include "call_watchdog.h"

#include <windows.h>

#include <cstdio>

#include "output.h"

namespace zol::host {

CallWatchdog::CallWatchdog() : thread_([this] { Watch(); }) {}

CallWatchdog::~CallWatchdog() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
  }
  changed_.notify_one();
  thread_.join();
}

void CallWatchdog::Arm(const char* call, uint32_t limitMs) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    call_ = call;
    limitMs_ = limitMs;
    deadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  }
  changed_.notify_one();
}

void CallWatchdog::Disarm() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    call_.clear();
  }
  changed_.notify_one();
}

void CallWatchdog::Watch() {
  std::unique_lock<std::mutex> hold(lock_);
  while (!stopping_) {
    if (call_.empty()) {
      changed_.wait(hold);
    } else if (changed_.wait_until(hold, deadline_) == std::cv_status::timeout && !call_.empty() &&
               std::chrono::steady_clock::now() >= deadline_) {
      PrintError("the driver did not return from " + call_ + " within " + std::to_string(limitMs_) +
                 " ms; giving up");
      // The driver's threads may hold locks that a normal exit would wait for.
      std::fflush(stdout);
      TerminateProcess(GetCurrentProcess(), kExitCode);
    }
  }
}

}  // namespace zol::host
