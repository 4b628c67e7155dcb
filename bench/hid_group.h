// The HID group: every figure taken with the driver on the simulated 40-cell HID display. Its
// parts live in files by theme: latencies and their floors (hid_latency.cpp), load, idle and
// reconnects (hid_load.cpp), and the host writing while the display sends keys
// (hid_stream.cpp).
#pragma once

#include <windows.h>

#include <vector>

#include "bench_context.h"
#include "hid_fixture.h"
#include "hid_pipe_server.h"
#include "sim/hid_display.h"

namespace zol::bench {

class HidGroup {
 public:
  explicit HidGroup(BenchContext& bench) : bench_(bench) {}
  void Run();

 private:
  // hid_latency.cpp
  void FrameFloor(std::vector<double>* floor);
  void KeyFloor(std::vector<double>* floor);
  void Latencies(const std::vector<double>& frameFloor, const std::vector<double>& keyFloor);
  void WriteCallTime();
  // hid_load.cpp
  void IdleCpu();
  void ManyWritesWithLostAcks();
  void UnplugReplug();
  void SilentOpen();
  // hid_stream.cpp
  void KeyBurst();
  void WriteStream();
  void BackToBack();
  StreamRecord::Key PressKey(int n);
  void CatchUp(size_t keyMark, int64_t index, double limitMs, StreamRecord* record);

  BenchContext& bench_;
  IBrailleDriver*& driver_ = bench_.driver;
  HANDLE worker_ = nullptr;
  sim::HidDisplay display_{bench_.clock, sim::HidDisplay::Model40()};
  StampedEndpoint endpoint_{display_};
  sim::HidPipeServer server_{PipePath("display40"), endpoint_};

  // The display presses a routing key, which is on the link at once.
  void Press(uint8_t code) {
    display_.PressRoutingKey(code);
    server_.InputWaiting();
  }
};

}  // namespace zol::bench
