#include <gtest/gtest.h>

#include "connection/dot_map.h"
#include "support/connection_harness.h"

namespace zol {
namespace {

// Frames waiting in the HID ring go out before a newer one, so the display ends up with the
// host's last write even when that write comes between an acknowledgement and the tick that
// sends the next waiting frame.
TEST(HidFrameOrder, AWriteAfterAnAcknowledgementQueuesBehindTheWaitingFrames) {
  test::ConnectionHarness h;
  h.AddHid(sim::HidDisplay::Model40());
  ASSERT_EQ(h.core.Connect("COM3"), 1);
  h.WriteText({0x01});  // in flight
  h.WriteText({0x02});  // waits
  h.WriteText({0x04});  // waits
  h.Tick();             // the acknowledgement
  ASSERT_EQ(h.core.frameAck().ackPending, 0);
  ASSERT_EQ(h.HidFrames(), 1u);

  h.WriteText({0x08});
  EXPECT_EQ(h.HidFrames(), 1u);
  h.Ticks(10);
  ASSERT_EQ(h.HidFrames(), 4u);
  EXPECT_EQ(h.hidDisplay.frames()[1][0], MapDotsToDevice(0x02));
  EXPECT_EQ(h.hidDisplay.frames()[2][0], MapDotsToDevice(0x04));
  EXPECT_EQ(h.LastHidFrame()[0], MapDotsToDevice(0x08));
}

}  // namespace
}  // namespace zol
