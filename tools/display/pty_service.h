// The frame shared by the programs that play a display on a pty (serial_display_sim,
// virtual_display): stop signals, the command script, the pty with its path file and link, and
// the loop that moves bytes between the pty and the display and runs command lines as they
// come from the script and from standard input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

#include "core/clock.h"

namespace zol::tools {

struct PtyServiceOptions {
  std::string linkPath;    // a symbolic link made to the pty's slave, e.g. a Wine COM port
  std::string pathFile;    // a file the slave's path is written to
  std::string scriptFile;  // command lines run before those of standard input
  bool readStdin = true;   // otherwise serve until quit, a signal or the time-out
  long timeoutSeconds = 0;
};

// What the loop serves.
class ServedDisplay {
 public:
  virtual ~ServedDisplay() = default;
  virtual void Receive(const uint8_t* bytes, size_t count) = 0;
  // Appends every byte due for the driver to out.
  virtual void Transmit(std::string* out) = 0;
  // Runs one command line; false for quit.
  virtual bool Run(const std::string& line) = 0;
  // True while a command still runs (a wait), so the next line waits too.
  virtual bool Busy() = 0;
  // Standard input was read (a terminal echoes what was typed).
  virtual void OnInputRead() {}
  // Bytes sent last, before the pty goes away.
  virtual std::string Goodbye() { return std::string(); }
};

using PrintLineFn = void (*)(const std::string& line);

class PtyService {
 public:
  // program names the messages on standard error; print writes the "pty" and "link" lines.
  PtyService(const char* program, PtyServiceOptions options, PrintLineFn print);
  ~PtyService();
  PtyService(const PtyService&) = delete;
  PtyService& operator=(const PtyService&) = delete;

  // Appends the script's lines to commands, opens the pty (printing "pty PATH" and, with a
  // link, "link PATH") and catches the stop signals. Returns 0, or the exit code after a
  // message on standard error: 2 for an unreadable script, 1 for a pty that cannot be had.
  int Start(std::deque<std::string>* commands);

  // Serves display until quit, a stop signal, the time-out or the end of standard input (once
  // its commands have run), then sends what is still due and the goodbye, for up to 500 ms.
  void Serve(Clock& clock, ServedDisplay& display, std::deque<std::string> commands);

  // The whole life of a display program after its options: Start, then the greeting line (if
  // any) and "ready", then Serve with the script's commands. Returns the exit code.
  int Run(Clock& clock, ServedDisplay& display, const std::string& greeting = std::string());

 private:
  struct Impl;
  Impl* impl_;
};

}  // namespace zol::tools
