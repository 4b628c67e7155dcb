#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/connection_harness.h"

namespace zol {
namespace {

using Bytes = std::vector<uint8_t>;

class HidPollTick : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(h.ConnectHid40(), 1); }
  // Runs one poll tick at exactly `after` ms past the last frame, without running what it
  // queued.
  void PollAt(uint32_t after) {
    h.clock.Advance(h.core.frameAck().lastFrameTick + after - h.clock.Now());
    h.core.PollTick();
  }
  void Silence() {
    sim::HidDisplayConfig config = sim::HidDisplay::Model40();
    config.ack = sim::AckPolicy::None;
    h.hidDisplay.Configure(config);
  }

  test::ConnectionHarness h;
};

TEST_F(HidPollTick, InputIsTakenInOrderAndAFloodIsBoundedPerWake) {
  for (int i = 0; i < 100; ++i) h.hidDisplay.PressRoutingKey(static_cast<uint8_t>(i % 40));
  h.core.ServiceInput();
  ASSERT_EQ(h.host.events.size(), 64u);
  h.core.ServiceInput();
  ASSERT_EQ(h.host.events.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(h.host.events[i].value, i % 40) << i;
}

TEST_F(HidPollTick, ALateAcknowledgementNeedsMoreThan1000Ms) {
  Silence();
  h.WriteText({0x01});
  h.WriteText({0x02});  // waits in the ring
  PollAt(1000);
  EXPECT_EQ(h.HidFrames(), 1u);

  PollAt(1001);  // lost: closed, ring dropped, found again
  EXPECT_EQ(h.core.hid().queueRead(), h.core.hid().queueWrite());
  EXPECT_FALSE(h.HidOpen());
  h.Ticks(3);  // opened once it has settled for 300 ms, without holding the thread, and resent
  EXPECT_TRUE(h.HidOpen());
  EXPECT_EQ(h.HidFrames(), 2u);
  EXPECT_EQ(h.LastHidFrame(), h.Cells(0, 42));
  EXPECT_EQ(h.hidDisplay.handshakeRequests(), 1);
}

TEST_F(HidPollTick, AnUnpluggedIdleDisplayIsLostAtOnceSearchedForAtAFallingPaceAndGetsItsCells) {
  h.WriteText({0x07, 0x38});
  h.Tick();
  h.Unplug();  // the host writes nothing: the failing read tells
  h.Tick();
  EXPECT_FALSE(h.HidOpen());
  // Every tick for the first second, every 500 ms until 10 s, every second after that.
  auto searchesOver = [&](int ticks) {
    const size_t before = h.hidBus.listTimes().size();
    h.Ticks(ticks);
    return h.hidBus.listTimes().size() - before;
  };
  EXPECT_GE(searchesOver(9), 8u);
  EXPECT_EQ(searchesOver(90), 18u);
  EXPECT_EQ(searchesOver(100), 10u);

  h.Replug();
  h.hidDisplay.ClearRecords();
  h.Ticks(10);  // found by the next search, and the cells sent at once
  EXPECT_TRUE(h.HidOpen());
  EXPECT_EQ(h.hidDisplay.handshakeRequests(), 0);
  ASSERT_EQ(h.HidFrames(), 1u);
  EXPECT_EQ(h.hidDisplay.frames()[0], h.Cells(0, 42));
  EXPECT_EQ(h.hidDisplay.frames()[0][1], 0xE0);
  h.Ticks(12);  // and they stay: nothing blanks them behind the resend
  EXPECT_EQ(h.hidDisplay.frames().back(), h.Cells(0, 42));
}

TEST_F(HidPollTick, EveryFailureButAPassingShortageLosesTheDisplay) {
  struct Case {
    uint32_t error;
    bool lost;
  };
  // Device not connected, bad command, invalid handle, aborted, general failure, not ready,
  // access denied (a handle whose device is being removed), broken pipe; then not enough
  // memory, no system resources, not enough quota.
  const Case cases[] = {{1167, true}, {22, true},    {6, true},    {995, true},
                        {31, true},   {21, true},    {5, true},    {109, true},
                        {8, false},   {1450, false}, {1816, false}};
  for (const Case& c : cases) {
    for (bool onWrite : {false, true}) {
      SCOPED_TRACE(std::to_string(c.error) + (onWrite ? " on write" : " on read"));
      test::ConnectionHarness l;
      ASSERT_EQ(l.ConnectHid40(), 1);
      const int opensBefore = l.hidBus.stats(l.hidIndex).opens;
      (onWrite ? l.hidBus.at(l.hidIndex).writeError : l.hidBus.at(l.hidIndex).readError) = c.error;
      l.WriteText({0x01});
      l.Ticks(6);
      // Lost: closed, searched for and, being still there, opened again with the cells.
      EXPECT_EQ(l.hidBus.stats(l.hidIndex).opens > opensBefore, c.lost);
    }
  }
}

TEST_F(HidPollTick, AWriteThatNeverCompletesIsCancelledAfter1000MsAndLosesTheDisplay) {
  h.hidBus.at(h.hidIndex).writesStall = true;
  const uint32_t before = h.clock.Now();
  h.WriteText({0x01});
  EXPECT_EQ(h.clock.Now() - before, HidLink::kWriteLimitMs);  // one report, then no more
  EXPECT_TRUE(h.core.hid().DeviceLost());
  // While it keeps taking nothing, no tick holds the thread longer than one write's limit:
  // the display found again is opened on a later tick, not after a settle inside this one.
  for (int i = 0; i < 20; ++i) {
    const uint32_t start = h.clock.Now();
    h.Tick();
    EXPECT_LE(h.clock.Now() - start, 100u + HidLink::kWriteLimitMs) << i;
  }
  h.hidBus.at(h.hidIndex).writesStall = false;
  h.Ticks(20);
  EXPECT_TRUE(h.HidOpen());
  EXPECT_EQ(h.LastHidFrame()[0], 0x08);
}

TEST_F(HidPollTick, NothingIsReadWhileSuspended) {
  h.hidDisplay.PressFunctionKey(3);
  h.shared.suspended = 1;
  h.Ticks(3);
  EXPECT_TRUE(h.host.events.empty());
  EXPECT_EQ(h.hidDisplay.InputWaiting(), 1u);
}

class SerialPollTick : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(h.core.Connect("COM3"), 1);
    h.Tick();  // takes the display's acknowledgement of the handshake's confirmation
  }
  void PollAt(uint32_t after) {
    h.clock.Advance(h.core.frameAck().lastFrameTick + after - h.clock.Now());
    h.core.PollTick();
  }
  // A display frame that is never acknowledged, timed out on a later tick.
  void TimeOut() {
    h.WriteText({0x01});
    PollAt(401);
  }
  uint8_t Retries() { return h.core.serial().serialRetryCount(); }

  test::ConnectionHarness h;
};

TEST_F(SerialPollTick, AMissingAcknowledgementNeedsMoreThan400Ms) {
  h.serialDisplay.SetCellsAck(sim::CellsAckPolicy::kNone);
  h.WriteText({0x01});
  PollAt(400);
  EXPECT_EQ(h.core.frameAck().ackPending, 1);
  PollAt(401);
  EXPECT_EQ(h.core.frameAck().ackPending, 0);
  EXPECT_EQ(Retries(), 1);
  EXPECT_EQ(h.SerialFrames(), 1u);  // not sent again
}

TEST_F(SerialPollTick, TheFourthTimeOutInARowSuspendsAndAnAcknowledgementClearsTheCount) {
  h.serialDisplay.SetCellsAck(sim::CellsAckPolicy::kNone);
  TimeOut();
  TimeOut();
  h.serialDisplay.SetCellsAck(sim::CellsAckPolicy::kAll);
  h.WriteText({0x01});
  h.Tick();
  EXPECT_EQ(Retries(), 0);

  h.serialDisplay.SetCellsAck(sim::CellsAckPolicy::kNone);
  TimeOut();
  TimeOut();
  TimeOut();
  EXPECT_EQ(Retries(), 3);
  EXPECT_EQ(h.shared.suspended.load(), 0);
  EXPECT_TRUE(h.serialPorts.portOpen());

  TimeOut();
  EXPECT_EQ(Retries(), 4);
  EXPECT_EQ(h.shared.suspended.load(), SharedState::kSuspendedByDriver);
  EXPECT_FALSE(h.serialPorts.portOpen());
  EXPECT_TRUE(h.core.connection().recovering());
}

TEST_F(SerialPollTick, ResumingAfterTheSelfSuspensionReconnects) {
  h.serialDisplay.SetCellsAck(sim::CellsAckPolicy::kNone);
  for (int i = 0; i < 4; ++i) TimeOut();
  ASSERT_EQ(h.shared.suspended.load(), SharedState::kSuspendedByDriver);

  h.serialDisplay.SetCellsAck(sim::CellsAckPolicy::kAll);
  h.shared.suspended = 0;  // the host's SetSuspended(0)
  h.core.Suspend(0);
  EXPECT_EQ(h.core.linkKind(), LinkKind::Serial);
  EXPECT_EQ(Retries(), 0);
  EXPECT_EQ(h.LastSerialFrame(), h.Cells(0, 42)) << "the display gets its contents again";
  h.Tick();
  h.WriteText({0x38});
  EXPECT_EQ(h.LastSerialFrame()[2], 0xE0);
}

TEST_F(SerialPollTick, SendsTheNewestKeptBackFrameOnceTheFrameBeforeIsSettled) {
  h.WriteText({0x01});
  h.WriteText({0x02});
  h.WriteText({0x04});
  EXPECT_EQ(h.SerialFrames(), 1u);
  h.Tick();  // the acknowledgement arrives, and the kept-back frame goes out
  ASSERT_EQ(h.SerialFrames(), 2u);
  EXPECT_EQ(h.LastSerialFrame()[2], 0x02);
  h.Tick();

  h.serialDisplay.SetCellsAck(sim::CellsAckPolicy::kNone);
  h.WriteText({0x01});
  h.WriteText({0x40});
  PollAt(401);  // a time-out also lets it go
  EXPECT_EQ(h.SerialFrames(), 4u);
  EXPECT_EQ(h.LastSerialFrame()[2], 0x01);
}

TEST_F(SerialPollTick, NoBytesAreReadWhileSuspended) {
  h.serialDisplay.SendFunctionKey(3);
  h.shared.suspended = 1;
  const int reads = h.serialPorts.readCount();
  h.Ticks(3);
  EXPECT_EQ(h.serialPorts.readCount(), reads);
  EXPECT_TRUE(h.host.events.empty());
  h.shared.suspended = 0;
  h.Tick();
  EXPECT_EQ(h.host.events.size(), 1u);
}

}  // namespace
}  // namespace zol
