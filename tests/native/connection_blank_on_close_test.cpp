// A display the host lets go of (Close, suspend) is left blank before its link closes; one that
// is already gone costs no wait, one that never answers at most 500 ms.
#include <gtest/gtest.h>

#include <vector>

#include "support/connection_harness.h"

namespace zol {
namespace {

using Outcome = ConnectionManager::BlankOutcome;

enum class Link { kHid40, kHid80, kSerial };
enum class Display { kAnswering, kSilent, kGone };

struct Case {
  Link link;
  Display display;
  bool suspend;  // SetSuspended(1) instead of Close
  Outcome outcome;
  uint32_t minMs, maxMs;  // simulated time the disconnect took
};

class BlankOnClose : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    const Case& c = GetParam();
    if (c.link != Link::kSerial)
      h.AddHid(c.link == Link::kHid40 ? sim::HidDisplay::Model40() : sim::HidDisplay::Model80());
    ASSERT_EQ(h.core.Connect("COM3"), 1);
    h.WriteText({0x01, 0x02, 0x03});
    h.Tick();  // acknowledged
    ASSERT_EQ(h.core.frameAck().ackPending, 0);
  }
  size_t Frames() const { return hid() ? h.HidFrames() : h.SerialFrames(); }
  std::vector<uint8_t> LastFrame() const { return hid() ? h.LastHidFrame() : h.LastSerialFrame(); }
  bool hid() const { return GetParam().link != Link::kSerial; }
  bool LinkOpen() const { return hid() ? h.HidOpen() : h.serialPorts.portOpen(); }

  test::ConnectionHarness h;
};

TEST_P(BlankOnClose, LeavesTheDisplayBlankWithinItsBound) {
  const Case& c = GetParam();
  if (c.display == Display::kSilent) {
    sim::HidDisplayConfig config = h.hidDisplay.config();
    config.ack = sim::AckPolicy::None;
    h.hidDisplay.Configure(config);
    h.serialDisplay.SetCellsAck(sim::CellsAckPolicy::kNone);
  } else if (c.display == Display::kGone) {
    if (hid())
      h.Unplug();  // not noticed yet: no read or write has failed
    else
      h.serialPorts.SetVanished(true);
  }
  const std::vector<uint8_t> cells = h.Cells(0, 82);
  const size_t frames = Frames();
  const uint32_t start = h.clock.Now();
  if (c.suspend) {
    h.shared.suspended = 1;  // as SetSuspended(1) marks it before the command runs
    h.core.Suspend(1);
  } else {
    h.core.Disconnect();
  }
  const uint32_t elapsed = h.clock.Now() - start;

  EXPECT_FALSE(LinkOpen());
  EXPECT_EQ(h.core.connection().lastBlank().outcome, c.outcome);
  EXPECT_GE(elapsed, c.minMs);
  EXPECT_LE(elapsed, c.maxMs);
  if (c.display != Display::kGone) {
    ASSERT_EQ(Frames(), frames + 1);
    const size_t length = c.link == Link::kHid80 ? 82 : 42;
    EXPECT_EQ(LastFrame(), std::vector<uint8_t>(length, 0)) << "status cells too";
  }
  EXPECT_EQ(h.Cells(0, 82), cells) << "the buffer is kept for a resume";
}

INSTANTIATE_TEST_SUITE_P(
    Links, BlankOnClose,
    ::testing::Values(
        Case{Link::kHid40, Display::kAnswering, false, Outcome::kAcknowledged, 0, 10},
        Case{Link::kHid80, Display::kAnswering, true, Outcome::kAcknowledged, 0, 10},
        Case{Link::kSerial, Display::kAnswering, false, Outcome::kAcknowledged, 0, 10},
        Case{Link::kSerial, Display::kAnswering, true, Outcome::kAcknowledged, 0, 10},
        Case{Link::kHid40, Display::kSilent, false, Outcome::kUnacknowledged, 500, 502},
        Case{Link::kSerial, Display::kSilent, true, Outcome::kUnacknowledged, 500, 502},
        Case{Link::kHid40, Display::kGone, false, Outcome::kUnacknowledged, 0, 0},
        Case{Link::kSerial, Display::kGone, false, Outcome::kUnacknowledged, 0, 0}));

// A display already known to be lost is closed without a frame or a wait.
TEST(BlankOnCloseLost, AKnownLossCostsNothing) {
  test::ConnectionHarness serial;
  ASSERT_EQ(serial.core.Connect("COM3"), 1);
  serial.serialPorts.SetVanished(true);
  serial.Tick();  // the failing read: recovering, port closed
  const uint32_t start = serial.clock.Now();
  serial.core.Disconnect();
  EXPECT_EQ(serial.clock.Now(), start);
  EXPECT_EQ(serial.core.connection().lastBlank().outcome, Outcome::kNoLink);

  test::ConnectionHarness hid;
  ASSERT_EQ(hid.ConnectHid40(), 1);
  sim::HidDisplayConfig silent = sim::HidDisplay::Model40();
  silent.ack = sim::AckPolicy::None;
  hid.hidDisplay.Configure(silent);
  hid.WriteText({0x01});
  hid.clock.Advance(1001);  // overdue: the next tick would take it as lost
  const size_t frames = hid.HidFrames();
  hid.core.Disconnect();
  EXPECT_EQ(hid.HidFrames(), frames);
  EXPECT_EQ(hid.core.connection().lastBlank().outcome, Outcome::kLinkLost);
}

// Frames waiting behind the one in flight are dropped: the display goes from the frame in
// flight straight to blank.
TEST(BlankOnCloseQueue, WaitingFramesAreDroppedAndTheFrameInFlightSettlesFirst) {
  test::ConnectionHarness h;
  sim::HidDisplayConfig late = sim::HidDisplay::Model40();
  late.ackDelayMs = 40;
  h.AddHid(late);
  ASSERT_EQ(h.core.Connect("COM3"), 1);
  for (uint8_t i = 1; i <= 5; ++i) h.WriteText({i});
  ASSERT_EQ(h.HidFrames(), 1u);
  h.core.Disconnect();
  ASSERT_EQ(h.HidFrames(), 2u);
  EXPECT_EQ(h.LastHidFrame(), std::vector<uint8_t>(42, 0));
  EXPECT_EQ(h.hidDisplay.malformedFrames(), 0);
  EXPECT_EQ(h.core.connection().lastBlank().outcome, Outcome::kAcknowledged);
}

}  // namespace
}  // namespace zol
