// Keys of the display's keyboard held when the serial link ends go up through zol.dll, as a
// low-level keyboard hook sees them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "keyboard_watch.h"

namespace zol::e2e {
namespace {

using ::testing::ElementsAre;
using testing::ScanDown;
using testing::ScanUp;

// The pty's end leaves reads and writes to a port that is gone, or to none at all: the host
// writes until the driver has noticed (it refuses writes once it has suspended itself).
void LoseTheDisplay(SerialDisplayClient& sim, LoadedDriver& dll) {
  sim.Quit();
  const std::vector<uint8_t> cells(40, 0x07);
  for (int i = 0; i < 20 && CDriverClearDisplay(dll.driver) != 0; ++i) {
    CDriverWriteTextCells(dll.driver, cells.data(), 40);
    Pump(300);
  }
}

TEST(SerialHeldKeys, LeftCtrlAndLeftWindowsGoUpInReverseOrderWhenTheLinkEnds) {
  SerialDisplayClient sim;
  ASSERT_TRUE(sim.ok()) << "run through scripts/with-serial-display.sh --control";
  LoadedDriver dll;
  ASSERT_TRUE(dll.ok());
  testing::KeyboardWatch watch;  // swallows the keys: no window of the session sees them
  ASSERT_TRUE(watch.installed());
  const struct {
    const char* how;
    void (*end)(SerialDisplayClient&, LoadedDriver&);
  } cases[] = {
      {"Close", [](SerialDisplayClient&, LoadedDriver& d) { CDriverClose(d.driver); }},
      {"the display's pty gone", LoseTheDisplay},
  };
  for (const auto& c : cases) {
    sim.Send("identify 40 2");
    sim.Send("ack all");
    ASSERT_EQ(CDriverOpen(dll.driver, sim.com().c_str(), dll.host, "", ""), 1) << c.how;
    // Set 2: left Ctrl, then the left Windows key (0xE0 prefix).
    for (int code : {0x14, 0xE0, 0x1F}) sim.Send("scan " + std::to_string(code));
    EXPECT_THAT(testing::ScanCodes(watch.WaitFor(2)),
                ElementsAre(ScanDown(0x1D, false), ScanDown(0x5B, true)))
        << c.how;
    c.end(sim, dll);
    const std::vector<testing::SeenKey> released = testing::ScanCodes(watch.WaitFor(2));
    for (const testing::SeenKey& key : released) {
      std::printf("[ held keys ] %s: hook saw scan 0x%02lX%s %s\n", c.how, key.scan,
                  key.extended ? " extended" : "", key.up ? "up" : "down");
    }
    EXPECT_THAT(released, ElementsAre(ScanUp(0x5B, true), ScanUp(0x1D, false))) << c.how;
  }
  CDriverClose(dll.driver);
}

}  // namespace
}  // namespace zol::e2e
