// Ends zolhost with a plain message when a driver operation does not return in time, so that a
// broken driver can never hang a script or a test.
#ifndef ZOL_TOOLS_ZOLHOST_CALL_WATCHDOG_H
#define ZOL_TOOLS_ZOLHOST_CALL_WATCHDOG_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace zol::host {

class CallWatchdog {
 public:
  // Exit code of a program ended by the watchdog.
  static constexpr int kExitCode = 3;

  CallWatchdog();
  ~CallWatchdog();
  CallWatchdog(const CallWatchdog&) = delete;
  CallWatchdog& operator=(const CallWatchdog&) = delete;

  // Watches one call: "the driver did not return from <call> within <limitMs> ms" ends the
  // program unless Disarm comes first.
  void Arm(const char* call, uint32_t limitMs);
  void Disarm();

 private:
  void Watch();

  std::mutex lock_;
  std::condition_variable changed_;
  std::string call_;  // empty while disarmed
  uint32_t limitMs_ = 0;
  std::chrono::steady_clock::time_point deadline_;
  bool stopping_ = false;
  std::thread thread_;
};

// Arms the watchdog for the lifetime of the object: one driver call.
class WatchedCall {
 public:
  WatchedCall(CallWatchdog& watchdog, const char* call, uint32_t limitMs) : watchdog_(watchdog) {
    watchdog_.Arm(call, limitMs);
  }
  ~WatchedCall() { watchdog_.Disarm(); }
  WatchedCall(const WatchedCall&) = delete;
  WatchedCall& operator=(const WatchedCall&) = delete;

 private:
  CallWatchdog& watchdog_;
};

}  // namespace zol::host

#endif  // ZOL_TOOLS_ZOLHOST_CALL_WATCHDOG_H
