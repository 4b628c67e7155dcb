// The simulated serial display (serial_display_sim --stamp, run by
// tests/wine/e2e/run_with_sim_control.sh --print-tx) under the benchmark's control: command
// lines go to its FIFO, its output is read back from its log as it grows, and it can be ended
// and started again on the same COM name (a USB-serial port that vanishes and returns).
//
// Each rx/tx line of the log begins with the time on CLOCK_MONOTONIC_RAW and CLOCK_MONOTONIC;
// the serial group finds out which of them the performance counter follows (UseClock).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zol::bench {

struct SimLine {
  int64_t raw = -1;  // nanoseconds; -1 for a line without a stamp
  int64_t mono = -1;
  std::string text;  // after the stamp: "rx CELLS 00 11 ...", "tx ROUTING_KEY 05", "ready"
};

class SerialSim {
 public:
  // Finds the control folder and the COM name in ZOL_E2E_CONTROL and ZOL_E2E_COM.
  SerialSim();
  ~SerialSim();
  SerialSim(const SerialSim&) = delete;
  SerialSim& operator=(const SerialSim&) = delete;

  bool ok() const { return fifo_ != INVALID_HANDLE_VALUE && log_ != INVALID_HANDLE_VALUE; }
  const std::string& com() const { return com_; }

  // Command lines, each ended with a newline here; several go in one write.
  void Send(const std::string& text);
  // The lines printed so far (reads what was added since the last look).
  const std::vector<SimLine>& Lines();
  size_t Mark() { return Lines().size(); }
  // The first line from index from on whose text starts with prefix; lines().size() if none.
  size_t Find(size_t from, const std::string& prefix);
  // Waits, dispatching this thread's messages, for such a line.
  bool WaitFor(size_t from, const std::string& prefix, double limitMs);

  // Ends the display program: its pty closes and the COM name goes away.
  bool Quit();
  // Starts it again on the same COM name (a new pty); true once it serves.
  bool Restart();
  bool CopyLogTo(const std::string& path) const;

  void UseClock(bool raw) { raw_ = raw; }
  int64_t At(const SimLine& line) const { return raw_ ? line.raw : line.mono; }

 private:
  std::string dir_;
  std::string com_;
  HANDLE fifo_ = INVALID_HANDLE_VALUE;
  HANDLE log_ = INVALID_HANDLE_VALUE;
  std::string partial_;  // the start of a line still being written
  std::vector<SimLine> lines_;
  bool raw_ = true;
};

// The bytes of "rx TYPE 00 11 ..." after the type.
std::vector<uint8_t> SimLineBytes(const SimLine& line);

}  // namespace zol::bench
