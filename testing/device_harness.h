// A device side (DeviceCore) wired to simulated displays: a HID display on a simulated bus
// (plugged in by AddHid), a serial display on COM3, a shared block in memory and a simulated
// clock. The host link and the key injector are the user's; they must outlive the harness.
#pragma once

#include <cstddef>
#include <cstdint>

#include "connection/device_core.h"
#include "core/shared_state.h"
#include "hid/hid_reports.h"
#include "input/host_link.h"
#include "input/key_injector.h"
#include "sim/hid_display.h"
#include "sim/hid_sim_bus.h"
#include "sim/memory_share_section.h"
#include "sim/serial_display.h"
#include "sim/serial_display_port.h"
#include "sim/sim_clock.h"

namespace zol::testing {

template <class SimulatedClock = sim::SimClock>
class DeviceHarness {
 public:
  // The device side keeps only the references to host and keys while it is made.
  DeviceHarness(HostLink& host, KeyInjector& keys, SimulatedClock start)
      : clock(start),
        platform{clock, hidBus, serialPorts, share, keys},
        core{platform, shared, host} {}
  DeviceHarness(const DeviceHarness&) = delete;
  DeviceHarness& operator=(const DeviceHarness&) = delete;

  // Plugs in the HID display as the given model under path.
  void AddHid(const sim::HidDisplayConfig& config, const char* path = "\\\\?\\hid#sim") {
    hidDisplay.Configure(config);
    const uint16_t product =
        config.frameCells == hid::kFrame80Cells ? hid::kProduct80 : hid::kProduct40;
    hidIndex = hidBus.AddDisplay(path, product, &hidDisplay);
    hidPresent = true;
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

  SimulatedClock clock;
  sim::HidDisplay hidDisplay{clock, sim::HidDisplay::Model40()};
  sim::SimHidBus hidBus{clock};
  size_t hidIndex = 0;
  bool hidPresent = false;
  sim::SerialDisplay serialDisplay{clock};
  sim::SimSerialPortFactory serialPorts{serialDisplay, "COM3"};
  sim::MemoryShareSection share;
  SharedState shared;
  Platform platform;
  DeviceCore core;
};

}  // namespace zol::testing
