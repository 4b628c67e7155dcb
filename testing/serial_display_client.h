// The simulated serial display (serial_display_sim on a pty linked as a COM port) under the
// control of a Windows program, as scripts/with-serial-display.sh --control runs it: command
// lines go to its FIFO, what it prints is read back from its log as the log grows, and it can
// be ended and started again on the same COM name (a USB-serial port that vanishes and
// returns). The end-to-end tests and the benchmark drive it this way.
//
// With serial_display_sim --stamp, each rx/tx line of the log begins with the time on
// CLOCK_MONOTONIC_RAW and CLOCK_MONOTONIC; UseClock picks which of them At reads.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zol::testing {

struct DisplayLine {
  int64_t raw = -1;  // nanoseconds; -1 for a line without a stamp
  int64_t mono = -1;
  std::string text;  // after the stamp: "rx CELLS 00 11 ...", "tx ROUTING_KEY 05", "ready"
};

class SerialDisplayClient {
 public:
  static constexpr double kWaitMs = 20000;

  // Finds the control folder and the COM name in ZOL_E2E_CONTROL and ZOL_E2E_COM.
  SerialDisplayClient();
  ~SerialDisplayClient();
  SerialDisplayClient(const SerialDisplayClient&) = delete;
  SerialDisplayClient& operator=(const SerialDisplayClient&) = delete;

  bool ok() const { return fifo_ != INVALID_HANDLE_VALUE && log_ != INVALID_HANDLE_VALUE; }
  const std::string& com() const { return com_; }

  // A command line, ended with a newline here; several may go in one call.
  void Send(const std::string& text);
  // The lines printed so far, complete ones only (reads what was added since the last look).
  const std::vector<DisplayLine>& Lines();
  size_t Mark() { return Lines().size(); }
  // The first line from index from on whose text starts with prefix; Lines().size() if none.
  size_t Find(size_t from, const std::string& prefix);
  // The texts of the lines from index from on that start with prefix.
  std::vector<std::string> LinesSince(size_t from, const std::string& prefix);
  // Waits, dispatching this thread's messages, for count such lines.
  bool WaitFor(size_t from, const std::string& prefix, size_t count = 1, double limitMs = kWaitMs);

  // The display's last frame: the data bytes of its answer to "cells?"; empty for "cells none".
  std::vector<uint8_t> LastFrame();
  // Its answer to "count? type"; -1 without one.
  int Count(const std::string& type);

  // Ends the display program: its pty closes and the COM name goes away. True once it ended.
  bool Quit(double limitMs = kWaitMs);
  // Starts it again on the same COM name (a new pty); true once it serves.
  bool Restart(double limitMs = kWaitMs);
  bool CopyLogTo(const std::string& path) const;

  void UseClock(bool raw) { raw_ = raw; }
  int64_t At(const DisplayLine& line) const { return raw_ ? line.raw : line.mono; }

 private:
  std::string dir_;
  std::string com_;
  HANDLE fifo_ = INVALID_HANDLE_VALUE;
  HANDLE log_ = INVALID_HANDLE_VALUE;
  std::string partial_;  // the start of a line still being written
  std::vector<DisplayLine> lines_;
  bool raw_ = true;
};

// The bytes written in hex after prefix ("rx CELLS 00 11 ..." after "rx CELLS"); empty when the
// text does not start with prefix.
std::vector<uint8_t> HexBytesAfter(const std::string& text, const std::string& prefix);

}  // namespace zol::testing
