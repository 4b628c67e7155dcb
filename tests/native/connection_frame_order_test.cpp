#include <gtest/gtest.h>

#include "connection/dot_map.h"
#include "support/connection_harness.h"

namespace zol {
namespace {

// Frames waiting in the HID ring go out before a newer one, and the acknowledgement of one
// frame sends the next at once, so the display ends up with the host's writes in order.
TEST(HidFrameOrder, WaitingFramesGoOutInOrderEachAsSoonAsTheOneBeforeIsAcknowledged) {
  test::ConnectionHarness h;
  ASSERT_EQ(h.ConnectHid40(), 1);
  h.WriteText({0x01});    // in flight
  h.WriteText({0x02});    // waits
  h.WriteText({0x04});    // waits
  h.core.ServiceInput();  // the acknowledgement, and the next frame goes at once
  EXPECT_EQ(h.HidFrames(), 2u);
  EXPECT_EQ(h.core.frameAck().ackPending, 1);

  h.WriteText({0x08});
  EXPECT_EQ(h.HidFrames(), 2u);
  h.core.ServiceInput();
  h.core.ServiceInput();
  ASSERT_EQ(h.HidFrames(), 4u);
  EXPECT_EQ(h.hidDisplay.frames()[1][0], MapDotsToDevice(0x02));
  EXPECT_EQ(h.hidDisplay.frames()[2][0], MapDotsToDevice(0x04));
  EXPECT_EQ(h.LastHidFrame()[0], MapDotsToDevice(0x08));
}

}  // namespace
}  // namespace zol
