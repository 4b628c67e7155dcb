// The sleep and wait commands of the simulated displays' control languages: a pause for a time,
// or a wait until what it waits for has arrived or its time is up, which then reports
// "wait WHAT ok" or "wait WHAT timeout". CommandLanguage adds what both languages share.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

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

// The part of a display's control language that does not depend on the display: the outcome of
// a line, errors, and the commands sleep MS, echo TEXT, quit and the pause of wait.
class CommandLanguage {
 public:
  using Output = CommandPause::Output;

  enum class Outcome {
    kDone,   // the command ran
    kBusy,   // a sleep or wait started: call Busy() until it returns false
    kQuit,   // the quit command
    kError,  // a line starting "error" was printed
  };

  // clock is the one the display runs on; sleep and wait measure their time with it.
  CommandLanguage(Clock& clock, Output output) : output_(std::move(output)), pause_(clock) {}

  // True while a sleep or a wait is in progress; prints the wait's result when it ends.
  bool Busy() { return pause_.Busy(output_); }

 protected:
  // Prints "error message".
  Outcome Fail(const std::string& message);
  // Runs words when they are sleep, echo or quit (line is the whole line, for echo); false for
  // any other command.
  bool RunShared(const std::vector<std::string>& words, const std::string& line, Outcome* outcome);
  // COUNT and MS of "wait WHAT [COUNT [MS]]", 1 and 10 s when not given; false when malformed.
  static bool ParseWait(const std::vector<std::string>& words, uint32_t* count, uint32_t* ms);
  // Starts a wait of up to ms: kBusy, or kDone when reached holds already.
  Outcome Wait(uint32_t ms, std::string what, std::function<bool()> reached);

  Output output_;

 private:
  CommandPause pause_;
};

}  // namespace zol::sim
