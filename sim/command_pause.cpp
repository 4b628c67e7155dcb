#include "sim/command_pause.h"

#include <utility>

#include "sim/serial_display_commands.h"

namespace zol::sim {

namespace {

constexpr uint32_t kDefaultWaitMs = 10000;

}  // namespace

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

CommandLanguage::Outcome CommandLanguage::Fail(const std::string& message) {
  output_("error " + message);
  return Outcome::kError;
}

bool CommandLanguage::RunShared(const std::vector<std::string>& words, const std::string& line,
                                Outcome* outcome) {
  const std::string& command = words[0];
  const size_t argc = words.size() - 1;
  uint32_t ms = 0;
  if (command == "echo") {
    const size_t start = line.find("echo") + 4;
    output_(start < line.size() ? line.substr(start + 1) : std::string());
    *outcome = Outcome::kDone;
  } else if (command == "sleep" && argc == 1 && ParseCommandNumber(words[1], UINT32_MAX, &ms)) {
    pause_.Sleep(ms);
    *outcome = Outcome::kBusy;
  } else if (command == "quit" && argc == 0) {
    *outcome = Outcome::kQuit;
  } else {
    return false;
  }
  return true;
}

bool CommandLanguage::ParseWait(const std::vector<std::string>& words, uint32_t* count,
                                uint32_t* ms) {
  const size_t argc = words.size() - 1;
  *count = 1;
  *ms = kDefaultWaitMs;
  return argc >= 1 && argc <= 3 && (argc < 2 || ParseCommandNumber(words[2], UINT32_MAX, count)) &&
         (argc < 3 || ParseCommandNumber(words[3], UINT32_MAX, ms));
}

CommandLanguage::Outcome CommandLanguage::Wait(uint32_t ms, std::string what,
                                               std::function<bool()> reached) {
  pause_.Wait(ms, std::move(what), std::move(reached));
  return Busy() ? Outcome::kBusy : Outcome::kDone;
}

}  // namespace zol::sim
