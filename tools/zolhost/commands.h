// The commands of zolhost, read from a script line or a typed line.
#ifndef ZOL_TOOLS_ZOLHOST_COMMANDS_H
#define ZOL_TOOLS_ZOLHOST_COMMANDS_H

#include <cstdint>
#include <string>
#include <vector>

namespace zol::host {

enum class CommandKind {
  kWrite,      // write TEXT: text cells
  kWriteAll,   // writeall TEXT: status and text cells
  kDots,       // dots HEX...: raw patterns on the text cells
  kClear,      // clear
  kSuspend,    // suspend
  kResume,     // resume
  kWait,       // wait MS
  kExpectKey,  // expect-key NAME [VALUE] [TIMEOUT_MS]
  kInfo,       // info
  kOpen,       // open [PORT]
  kClose,      // close
  kHelp,       // help
  kQuit,       // quit
};

struct Command {
  CommandKind kind = CommandKind::kHelp;
  std::string text;           // write, writeall: the text; expect-key: key name; open: port
  bool hasText = false;       // open: a port was named
  std::vector<uint8_t> dots;  // dots: the patterns
  uint32_t milliseconds = 0;  // wait: the time; expect-key: the time-out
  bool hasValue = false;      // expect-key: a value was named
  int32_t value = 0;          // expect-key: the value
};

// Time expect-key waits when the line names none.
constexpr uint32_t kDefaultExpectKeyMs = 5000;
// Longest wait or time-out a line may ask for (one hour).
constexpr uint32_t kLongestWaitMs = 3600000;

enum class LineKind {
  kNothing,  // blank line or comment (first non-blank character '#')
  kCommand,
  kError,
};

// Reads one line. Words are separated by blanks; "double quotes" keep blanks inside a word
// (expect-key "shift KBD12"). write and writeall take the rest of the line as their text, with
// surrounding double quotes removed. On kError, *error says what is wrong in plain words.
LineKind ParseCommand(const std::string& line, Command* command, std::string* error);

// The command summary shown by --help and by the help command.
extern const char kCommandHelp[];

}  // namespace zol::host

#endif  // ZOL_TOOLS_ZOLHOST_COMMANDS_H
