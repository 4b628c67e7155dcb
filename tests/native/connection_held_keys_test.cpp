// Keys of the display's keyboard held when a serial session ends, however it ends, go up.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "connection/share_block.h"
#include "support/connection_harness.h"

namespace zol {
namespace {

using testing::Keystroke;
using testing::Scan;

TEST(HeldKeysAtLinkEnd, AreReleasedInReverseOrderOnceHoweverTheSessionEnds) {
  const struct {
    const char* how;
    std::function<void(test::ConnectionHarness&)> end;
  } cases[] = {
      {"Close", [](test::ConnectionHarness& h) { h.core.Disconnect(); }},
      {"host suspend", [](test::ConnectionHarness& h) { h.core.Suspend(1); }},
      {"lent out",
       [](test::ConnectionHarness& h) {
         h.share.SetWord(kShareWordOffset, SHARE_REQUEST_RELEASE);
         h.Tick();
       }},
      {"lost by time-outs",
       [](test::ConnectionHarness& h) {
         h.serialDisplay.SetCellsAck(sim::CellsAckPolicy::kNone);
         for (int i = 0; i < 4; ++i) {
           h.WriteText({0x01});
           h.Ticks(5);
         }
       }},
      {"lost by port failure",
       [](test::ConnectionHarness& h) {
         h.serialPorts.SetVanished(true);
         h.Tick();
       }},
      {"opened again", [](test::ConnectionHarness& h) { h.core.Connect("COM3"); }},
      {"shutdown", [](test::ConnectionHarness& h) { h.core.Shutdown(); }},
  };
  for (const auto& c : cases) {
    test::ConnectionHarness h;
    ASSERT_EQ(h.core.Connect("COM3"), 1) << c.how;
    h.share.Create();
    h.Tick();
    // Left Ctrl, then the left Windows key (extended).
    for (uint16_t code : {0x14, 0xE0, 0x1F}) h.serialDisplay.SendScanCode(code);
    h.core.ServiceInput();
    ASSERT_EQ(h.core.input().heldKeyCount(), 2u) << c.how;
    h.keys.keystrokes.clear();

    c.end(h);
    h.Ticks(30);  // recoveries and reconnects release nothing twice
    EXPECT_EQ(h.keys.keystrokes, (std::vector<Keystroke>{Scan(0x5B, 11), Scan(0x1D, 10)})) << c.how;
  }
}

}  // namespace
}  // namespace zol
