// The HID display of the benchmark: a simulated 40-cell display served as a named pipe on a
// thread of this program, behind an endpoint that notes when each display frame ends (and
// which write it carried) and can lose a share of the display's acknowledgements.
//
// The pipe server looks for new input of the display only every 10 ms unless something wakes
// it; a real display's report reaches the host at once. Each press wakes it (InputWaiting),
// so that the figures time the link and the driver, not the server's polling.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "sim/hid_display.h"
#include "stream_figures.h"

namespace zol::bench {

class StampedEndpoint : public sim::HidEndpoint {
 public:
  explicit StampedEndpoint(sim::HidDisplay& display) : display_(display) {}

  void OnOutputReport(const uint8_t* report, size_t length) override;
  size_t PeekInput(uint8_t* report, size_t capacity) override;
  void PopInput() override { display_.PopInput(); }

  // Frames that end from now on are kept, with their time and pattern, until taken.
  void StartRecording();
  std::vector<StreamRecord::Frame> TakeFrames();

  std::atomic<int64_t> frameEnd{0};  // performance counter
  std::atomic<int> framesEnded{0};
  std::atomic<int> lossPercent{0};
  std::atomic<int> acksLost{0};

 private:
  sim::HidDisplay& display_;
  uint32_t random_ = 12345;  // the server thread's only
  std::mutex mutex_;
  bool recording_ = false;
  std::vector<StreamRecord::Frame> frames_;
};

// A pipe path of this process's own.
std::string PipePath(const char* name);
// Tells the test-only hid.dll which pipes are HID devices of the display's USB ids.
void ConfigureHid(const std::vector<std::string>& paths);
// Whether the display's last frame shows dots (host patterns).
bool DisplayShows(const sim::HidDisplay& display, const std::vector<uint8_t>& dots);
// The six reports of the frame the driver sends for dots on a 40-cell display.
std::vector<std::vector<uint8_t>> Frame40Reports(const std::vector<uint8_t>& dots);

}  // namespace zol::bench
