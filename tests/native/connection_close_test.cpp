#include <gtest/gtest.h>

#include "connection/share_block.h"
#include "support/connection_harness.h"

namespace zol {
namespace {

// Close disconnects and then stops the worker thread; ticks that still run in between must
// not bring the display back.
TEST(Close, AfterDisconnectTicksNeitherReopenTheDisplayNorServicePortSharing) {
  test::ConnectionHarness h;
  ASSERT_EQ(h.ConnectHid40(), 1);
  h.share.Create();
  h.Tick();
  h.core.Disconnect();
  EXPECT_TRUE(h.core.parked());
  const size_t searches = h.hidBus.listTimes().size();
  h.share.SetWord(kShareWordOffset, SHARE_RETURN_BASE);
  h.Ticks(5);
  EXPECT_EQ(h.hidBus.openHandles(), 0);
  EXPECT_EQ(h.hidBus.listTimes().size(), searches);
  EXPECT_EQ(h.share.Word(kShareWordOffset), SHARE_RETURN_BASE);

  EXPECT_EQ(h.core.Connect("COM3"), 1);  // the next Open works as before
  EXPECT_FALSE(h.core.parked());
}

TEST(Close, AfterDisconnectTheSerialPortStaysClosed) {
  test::ConnectionHarness h;
  ASSERT_EQ(h.core.Connect("COM3"), 1);
  h.core.Disconnect();
  h.share.Create();
  h.share.SetWord(kShareWordOffset, SHARE_RETURN_BASE);
  h.Ticks(5);
  EXPECT_FALSE(h.serialPorts.portOpen());
  EXPECT_EQ(h.serialPorts.openCount(), 1);
  EXPECT_EQ(h.share.opens, 0);
}

TEST(Close, SuspendDoesNotPark) {
  test::ConnectionHarness h;
  ASSERT_EQ(h.core.Connect("COM3"), 1);
  h.shared.suspended = 1;
  h.core.Suspend(1);
  EXPECT_FALSE(h.core.parked());
  h.share.Create();
  h.Ticks(2);
  EXPECT_EQ(h.share.opens, 1);
}

TEST(Shutdown, ClosesTheDeviceThePortAndTheSection) {
  test::ConnectionHarness hid;
  ASSERT_EQ(hid.ConnectHid40(), 1);
  hid.share.Create();
  hid.Tick();
  ASSERT_TRUE(hid.share.open);
  const size_t frames = hid.HidFrames();
  hid.core.Shutdown();
  EXPECT_EQ(hid.hidBus.openHandles(), 0);
  EXPECT_FALSE(hid.share.open);
  EXPECT_EQ(hid.HidFrames(), frames) << "a worker thread that ends sends nothing";
  hid.Ticks(3);
  EXPECT_EQ(hid.hidBus.openHandles(), 0);

  test::ConnectionHarness serial;
  ASSERT_EQ(serial.core.Connect("COM3"), 1);
  serial.core.Shutdown();
  EXPECT_FALSE(serial.serialPorts.portOpen());
}

}  // namespace
}  // namespace zol
