// The serial group: every figure taken with the driver on the simulated serial display on a
// pty linked as a COM port. Its parts live in files by theme: the clock check, latencies and
// their floors (serial_latency.cpp), the host writing while the display sends keys
// (serial_stream.cpp), and Open and the display coming back after a loss
// (serial_recovery.cpp).
#pragma once

#include <windows.h>

#include <vector>

#include "bench_context.h"
#include "stream_figures.h"
#include "testing/serial_display_client.h"

namespace zol::bench {

class SerialGroup {
 public:
  SerialGroup(BenchContext& bench, testing::SerialDisplayClient& sim) : bench_(bench), sim_(sim) {}
  void Run();

 private:
  // serial_latency.cpp
  bool FrameFloorAndClock(std::vector<double>* floor);
  void KeyFloor(std::vector<double>* floor);
  void WriteLatency(const std::vector<double>& floor);
  void KeysAlone(const std::vector<double>& floor);
  // serial_stream.cpp
  void KeyBurst();
  void WriteStream();
  void BackToBack();
  void CatchUp(size_t mark, size_t keyMark, int keys, int64_t index, double limitMs,
               StreamRecord* record);
  // serial_recovery.cpp
  double OpenWithNothingToFind();
  bool OpenAnswering(double nothingMs);
  void LossAndReturn(bool portVanishes);
  void SilentOpen(double nothingMs);

  // The display frames and the routing keys in the display's log from line mark on, on the
  // performance counter's clock.
  std::vector<StreamRecord::Frame> FramesSince(size_t mark);
  std::vector<StreamRecord::Key> KeysSentSince(size_t mark);
  // The pattern of a display frame the log shows; -1 for other lines and other frames.
  static int64_t FrameIndex(const testing::DisplayLine& line);
  // Waits (pumping) until the display received the frame of write index, from line mark on.
  bool WaitShown(size_t mark, int64_t index, double limitMs);
  // Makes the display press routing key number key (the host sees the value key % 100 + 1).
  std::string PressCommand(int key) const;

  BenchContext& bench_;
  IBrailleDriver*& driver_ = bench_.driver;
  testing::SerialDisplayClient& sim_;
  HANDLE worker_ = nullptr;  // the driver's worker thread while open, when found
};

// A port opened on com by a bare program, 38400 8N1; INVALID_HANDLE_VALUE on failure.
HANDLE OpenBarePort(const std::string& com);

}  // namespace zol::bench
