// The device side on simulated displays (testing/device_harness.h) as the connection tests use
// it: a recording host and key injector, the clock at kStart, and the frames the displays got.
#pragma once

#include <cstdint>
#include <vector>

#include "testing/device_harness.h"
#include "testing/input_recorders.h"

namespace zol::test {

// Made before the harness that keeps references to them.
struct ConnectionRecorders {
  testing::RecordingKeyInjector keys;
  testing::RecordingHostLink host;
};

class ConnectionHarness : public ConnectionRecorders, public testing::DeviceHarness<> {
 public:
  static constexpr uint32_t kStart = 50000;

  ConnectionHarness() : DeviceHarness(host, keys, sim::SimClock{kStart}) {}

  // Plugs in a 40-cell HID display and connects: Connect's result.
  int ConnectHid40() {
    AddHid(sim::HidDisplay::Model40());
    return core.Connect("COM3");
  }

  // Host dot patterns given as host bytes.
  void WriteText(std::vector<uint8_t> dots) {
    core.WriteText(dots.data(), static_cast<int32_t>(dots.size()));
  }
  void WriteAll(std::vector<uint8_t> dots) {
    core.WriteAll(dots.data(), static_cast<int32_t>(dots.size()));
  }

  std::vector<uint8_t> Cells(int first, int count) const {
    const uint8_t* cells = core.cellOutput().cells();
    return std::vector<uint8_t>(cells + first, cells + first + count);
  }
  // Display frames the HID display received.
  size_t HidFrames() const { return hidDisplay.frames().size(); }
  std::vector<uint8_t> LastHidFrame() const { return hidDisplay.frames().back(); }
  // Display packets the serial display received.
  size_t SerialFrames() const { return serialDisplay.cellFrames().size(); }
  std::vector<uint8_t> LastSerialFrame() const { return serialDisplay.cellFrames().back(); }
  bool HidOpen() const { return hidBus.OpenHandlesOf(hidIndex) > 0; }
};

}  // namespace zol::test
