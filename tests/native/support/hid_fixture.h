// A HID link over the simulated bus and clock, with one display of each model at hand.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "hid/hid_link.h"
#include "hid/hid_reports.h"
#include "sim/hid_display.h"
#include "sim/hid_sim_bus.h"
#include "sim/sim_clock.h"
#include "testing/input_recorders.h"
#include "testing/link_stack.h"

namespace zol::test {

// The simulated side, made before the link over it.
struct SimulatedHidSide {
  static constexpr uint32_t kStart = 1000;
  sim::SimClock clock{kStart};
  sim::SimHidBus bus{clock};
  sim::HidDisplay display40{clock, sim::HidDisplay::Model40()};
  sim::HidDisplay display80{clock, sim::HidDisplay::Model80()};
};

class HidLinkTest : public ::testing::Test,
                    protected SimulatedHidSide,
                    protected testing::LinkStack<HidLink> {
 protected:
  HidLinkTest() : LinkStack(bus, clock) {}

  // Plugs in display40 set up as config, and finds it.
  void Plug40(const sim::HidDisplayConfig& config) {
    display40.Configure(config);
    bus.AddDisplay("display", hid::kProduct40, &display40);
    ASSERT_EQ(link.FindHidDisplay(), kHid40);
  }

  // The payload (bytes 1 to 8) of a recorded output report.
  static std::vector<uint8_t> Payload(const std::vector<uint8_t>& report) {
    return std::vector<uint8_t>(report.begin() + 1, report.begin() + 9);
  }
  std::vector<uint8_t> WrittenPayload(size_t index) const {
    return Payload(bus.writes().at(index).report);
  }
};

}  // namespace zol::test
