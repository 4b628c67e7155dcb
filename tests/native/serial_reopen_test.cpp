#include <gtest/gtest.h>

#include "support/connection_harness.h"

namespace zol {
namespace {

// A packet cut off when the port closed must not swallow the next session's identify reply.
TEST(SerialReopen, APacketCutOffByTheCloseDoesNotSwallowTheNextIdentify) {
  test::ConnectionHarness h;
  ASSERT_EQ(h.core.Connect("COM3"), 1);
  // The start of a packet announcing 255 data bytes, and then the port closes.
  h.serialDisplay.SendRaw({0x01, 0x02, 0x22, 0xFF, 0x03, 0x41});
  h.Tick();
  h.core.Disconnect();
  h.core.Shutdown();

  EXPECT_EQ(h.core.Connect("COM3"), 1);
  EXPECT_EQ(h.core.linkKind(), LinkKind::Serial);
}

}  // namespace
}  // namespace zol
