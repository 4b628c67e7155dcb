// The sleep and wait commands of the simulated displays' control languages: a pause for a time,
// or a wait until what it waits for has arrived or its time is up, which then reports
// "wait WHAT ok" or "wait WHAT timeout".
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/clock.h"

namespace zol::sim {

class CommandPause {
 public:
  using Output = std::function<void(const std::string& line)>;

  explicit CommandPause(Clock& clock) : clock_(clock) {}

  void Sleep(uint32_t ms);
  // what names the wait in its report; reached tells whether it has arrived.
  void Wait(uint32_t ms, std::string what, std::function<bool()> reached);
  // True while a sleep or a wait lasts; a wait that ends reports through output.
  bool Busy(const Output& output);

 private:
  enum class Kind { kNone, kSleep, kWait };

  Clock& clock_;
  Kind kind_ = Kind::kNone;
  uint32_t start_ = 0;
  uint32_t ms_ = 0;
  std::string what_;
  std::function<bool()> reached_;
};

}  // namespace zol::sim
