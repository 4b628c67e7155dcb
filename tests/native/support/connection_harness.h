// A device side wired to simulated HID and serial displays, a simulated clock and a shared
// block in memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "connection/device_core.h"
#include "hid/hid_reports.h"
#include "sim/hid_display.h"
#include "sim/hid_sim_bus.h"
#include "sim/serial_display.h"
#include "sim/serial_display_port.h"
#include "sim/sim_clock.h"
#include "support/connection_fakes.h"
#include "support/input_recorders.h"

namespace zol::test {

class ConnectionHarness {
 public:
  static constexpr uint32_t kStart = 50000;

  ConnectionHarness() = default;

  // Plugs in a HID display of the given model (not present until called).
  void AddHid(const sim::HidDisplayConfig& config) {
    hidDisplay.Configure(config);
    const uint16_t product =
        config.frameCells == hid::kFrame80Cells ? hid::kProduct80 : hid::kProduct40;
    hidIndex = hidBus.AddDisplay("\\\\?\\hid#sim", product, &hidDisplay);
  }
  void Unplug() { hidBus.Unplug(hidIndex); }
  void Replug() { hidBus.Replug(hidIndex); }

  // One timer tick: 100 ms pass, the poll tick runs.
  void Tick() {
    clock.Advance(100);
    core.PollTick();
  }
  void Ticks(int count) {
    for (int i = 0; i < count; ++i) Tick();
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

  sim::SimClock clock{kStart};
  sim::HidDisplay hidDisplay{clock, sim::HidDisplay::Model40()};
  sim::SimHidBus hidBus{clock};
  size_t hidIndex = 0;
  sim::SerialDisplay serialDisplay{clock};
  sim::SimSerialPortFactory serialPorts{serialDisplay, "COM3"};
  MemoryShareSection share;
  testing::RecordingKeyInjector keys;
  SharedState shared;
  HostRecorder host;
  Platform platform{clock, hidBus, serialPorts, share, keys};
  DeviceCore core{platform, shared, host};
};

}  // namespace zol::test
