// The simulated display's own behaviour that other tests rely on: acknowledgement policies,
// reply timing and the frames it reassembles.
#include <gtest/gtest.h>

#include "support/hid_fixture.h"

namespace zol::test {
namespace {

class HidDisplaySim : public HidLinkTest {
 protected:
  // What one poll tick would see: the kind byte of the report read, or -1 for none.
  int Poll() {
    uint8_t payload[8];
    return link.ReadHidReport(payload) == 9 ? payload[0] : -1;
  }
  // Plugs in display40 acknowledging ms after a frame ends, and sends it a frame.
  void SendWithAckDelay(uint32_t ms) {
    sim::HidDisplayConfig config = sim::HidDisplay::Model40();
    config.ackDelayMs = ms;
    Plug40(config);
    link.SendHidFrame40(cells);
  }
  const uint8_t cells[42] = {};
};

TEST_F(HidDisplaySim, AcknowledgesAfterTheConfiguredDelay) {
  SendWithAckDelay(250);
  clock.Advance(249);
  EXPECT_EQ(Poll(), -1);
  clock.Advance(1);
  EXPECT_EQ(Poll(), 0xFF);
  EXPECT_EQ(Poll(), -1);
}

TEST_F(HidDisplaySim, DropsTheFirstAcknowledgementsWhenToldTo) {
  sim::HidDisplayConfig config = sim::HidDisplay::Model40();
  config.ack = sim::AckPolicy::DropFirst;
  config.dropFirst = 2;
  Plug40(config);
  for (int frame = 0; frame < 3; ++frame) {
    ack.ackPending = 0;
    link.SendHidFrame40(cells);
  }
  EXPECT_EQ(display40.frames().size(), 3u);
  EXPECT_EQ(display40.acksSent(), 1);
  EXPECT_EQ(Poll(), 0xFF);
  EXPECT_EQ(Poll(), -1);
}

TEST_F(HidDisplaySim, KeysPressedBeforeADelayedAcknowledgementComeFirst) {
  SendWithAckDelay(100);
  display40.PressFunctionKey(1);
  clock.Advance(100);
  display40.PressRoutingKey(2);
  EXPECT_EQ(Poll(), 0xFE);
  EXPECT_EQ(Poll(), 0xFF);
  EXPECT_EQ(Poll(), 0xFD);
}

TEST_F(HidDisplaySim, CountsFramesWithABadTrailerAndReportsOutsideAFrame) {
  Plug40(sim::HidDisplay::Model40());
  const uint8_t header[8] = {0xFF, 0xAA, 0x55, 1, 2, 3, 4, 5};
  const uint8_t middle[8] = {9, 9, 9, 9, 9, 9, 9, 9};
  link.WriteHidReport(middle);  // before any frame
  link.WriteHidReport(header);
  for (int i = 0; i < 5; ++i) link.WriteHidReport(middle);  // no 55 AA FF at the end
  EXPECT_EQ(display40.strayReports(), 1);
  EXPECT_EQ(display40.malformedFrames(), 1);
  EXPECT_TRUE(display40.frames().empty());
  EXPECT_EQ(display40.InputWaiting(), 0u);
}

}  // namespace
}  // namespace zol::test
