#include "sim/command_pause.h"

#include <utility>

namespace zol::sim {

void CommandPause::Sleep(uint32_t ms) {
  kind_ = Kind::kSleep;
  start_ = clock_.Now();
  ms_ = ms;
}

void CommandPause::Wait(uint32_t ms, std::string what, std::function<bool()> reached) {
  kind_ = Kind::kWait;
  start_ = clock_.Now();
  ms_ = ms;
  what_ = std::move(what);
  reached_ = std::move(reached);
}

bool CommandPause::Busy(const Output& output) {
  const bool timeUp = static_cast<uint32_t>(clock_.Now() - start_) >= ms_;
  switch (kind_) {
    case Kind::kNone:
      return false;
    case Kind::kSleep:
      if (!timeUp) return true;
      break;
    case Kind::kWait: {
      const bool reached = reached_();
      if (!reached && !timeUp) return true;
      output("wait " + what_ + (reached ? " ok" : " timeout"));
      break;
    }
  }
  kind_ = Kind::kNone;
  return false;
}

}  // namespace zol::sim
