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
  h.Tick();  // the acknowledgement of the handshake's confirmation
  h.serialDisplay.SetCellsAck(sim::CellsAckPolicy::kNone);
  for (int i = 0; i < 4; ++i) {  // four time-outs in a row: the display counts as lost
    h.WriteText({0x01});
    h.Ticks(5);
  }
  ASSERT_EQ(h.shared.suspended.load(), SharedState::kSuspendedByDriver);
  ASSERT_FALSE(h.serialPorts.portOpen());
  h.serialDisplay.SetCellsAck(sim::CellsAckPolicy::kAll);
  h.core.Disconnect();
  h.core.Shutdown();

  EXPECT_EQ(h.core.Connect("COM3"), 1);
  EXPECT_EQ(h.core.linkKind(), LinkKind::Serial);
}

// The blank that Close leaves on the display may go unacknowledged; the next session must not
// inherit an acknowledgement wait from it, or its first ticks drop and reopen a working display.
TEST(Reopen, AHidSessionAfterACloseDoesNotReconnectForNothing) {
  test::ConnectionHarness h;
  ASSERT_EQ(h.ConnectHid40(), 1);
  h.WriteText({0x01});
  sim::HidDisplayConfig silent = sim::HidDisplay::Model40();
  silent.ack = sim::AckPolicy::None;
  h.hidDisplay.Configure(silent);
  h.core.Disconnect();
  h.core.Shutdown();
  h.hidDisplay.Configure(sim::HidDisplay::Model40());

  ASSERT_EQ(h.core.Connect("COM3"), 1);
  const int opens = h.hidBus.stats(h.hidIndex).opens;
  h.Ticks(30);
  EXPECT_EQ(h.hidBus.stats(h.hidIndex).opens, opens);
}

}  // namespace
}  // namespace zol
