#include <gtest/gtest.h>

#include "support/connection_harness.h"

namespace zol {
namespace {

// A driver closed while suspended (by the host, or by itself after repeated time-outs) is
// opened again: the new session must identify the serial display, not stay mute.
TEST(Reopen, AfterTheHostSuspendedTheSerialDisplayIsFoundAgain) {
  test::ConnectionHarness h;
  ASSERT_EQ(h.core.Connect("COM3"), 1);
  h.shared.suspended = 1;  // SetSuspended(1)
  h.core.Suspend(1);
  h.core.Disconnect();  // Close
  h.core.Shutdown();

  EXPECT_EQ(h.core.Connect("COM3"), 1);  // Open
  EXPECT_EQ(h.core.linkKind(), LinkKind::Serial);
  EXPECT_EQ(h.shared.suspended.load(), 0);
  h.WriteText({0x38});
  ASSERT_GE(h.SerialFrames(), 1u);
  EXPECT_EQ(h.LastSerialFrame()[2], 0xE0);
}

TEST(Reopen, AfterTheDriverSuspendedItselfTheSerialDisplayIsFoundAgain) {
  test::ConnectionHarness h;
  ASSERT_EQ(h.core.Connect("COM3"), 1);
  h.control.PostSelfSuspend();  // the fourth time-out in a row
  h.control.RunQueued(h.core);
  ASSERT_FALSE(h.serialPorts.portOpen());
  h.core.Disconnect();
  h.core.Shutdown();

  EXPECT_EQ(h.core.Connect("COM3"), 1);
  EXPECT_EQ(h.core.linkKind(), LinkKind::Serial);
}

}  // namespace
}  // namespace zol
