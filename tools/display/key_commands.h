// The virtual display's own commands for a person at the keys, turned into lines of the
// simulated display's control language (sim/serial_display_commands.h). Platform-neutral.
//
//   F1 ... SLDN, or press NAME...   function keys by name
//   cell N / cell2 N                routing key above text cell N (1 = leftmost), first or
//                                   second set
//   status N / status2 N            status key N (1 = leftmost status cell)
//   chord [shift] DOTS              braille keyboard chord, dots as digits 1-8 ("125"; "0" none)
//   type TEXT                       typed text
//   show, help                      handled by the program itself
// Any other line goes to the control language unchanged.
#pragma once

#include <string>
#include <vector>

#include "cell_view.h"

namespace zol::vdisplay {

struct KeyCommand {
  enum class Kind {
    kNothing,  // blank line or comment
    kSim,      // run simLines through the control language
    kShow,     // print the cells again
    kHelp,     // print the command summary
    kHelpAll,  // print it with the control language's own summary
    kError,    // error says what is wrong
  };
  Kind kind = Kind::kNothing;
  std::vector<std::string> simLines;
  std::string note;   // kSim from a key command: what was pressed, for the person watching
  std::string error;  // kError
};

// Routing keys are numbered along the line, status cells first: status key N is code N, the
// key above text cell N is code statusCells + N; bit 7 selects the second set.
KeyCommand ParseKeyCommand(const std::string& line, const Geometry& geometry);

// The dot bits of a chord written as dot numbers ("125" -> 0x13, "0" -> 0); false for anything
// else (a digit outside 1-8, a repeated dot, no digits).
bool ParseDotNumbers(const std::string& text, uint8_t* dots);

extern const char kKeyCommandHelp[];

}  // namespace zol::vdisplay
