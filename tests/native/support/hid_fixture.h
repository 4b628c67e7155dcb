// A HID link over the simulated bus and clock, with one display of each model at hand.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "core/shared_state.h"
#include "hid/hid_link.h"
#include "hid/hid_reports.h"
#include "input/input_translator.h"
#include "sim/hid_display.h"
#include "sim/hid_sim_bus.h"
#include "sim/sim_clock.h"
#include "testing/input_recorders.h"

namespace zol::test {

class HidLinkTest : public ::testing::Test {
 protected:
  static constexpr uint32_t kStart = 1000;

  // The payload (bytes 1 to 8) of a recorded output report.
  static std::vector<uint8_t> Payload(const std::vector<uint8_t>& report) {
    return std::vector<uint8_t>(report.begin() + 1, report.begin() + 9);
  }
  std::vector<uint8_t> WrittenPayload(size_t index) const {
    return Payload(bus.writes().at(index).report);
  }

  sim::SimClock clock{kStart};
  sim::SimHidBus bus{clock};
  sim::HidDisplay display40{clock, sim::HidDisplay::Model40()};
  sim::HidDisplay display80{clock, sim::HidDisplay::Model80()};
  SharedState shared;
  FrameAck ack;
  testing::RecordingHostLink host;
  testing::RecordingKeyInjector injector;
  InputTranslator input{host, injector, clock, shared};
  HidLink link{bus, clock, shared, ack, input};
};

}  // namespace zol::test
