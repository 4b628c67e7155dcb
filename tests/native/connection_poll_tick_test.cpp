#include <gtest/gtest.h>

#include <vector>

#include "support/connection_harness.h"

namespace zol {
namespace {

using Bytes = std::vector<uint8_t>;
using Command = test::DriverControlRecorder::Command;

class HidPollTick : public ::testing::Test {
 protected:
  void SetUp() override {
    h.AddHid(sim::HidDisplay::Model40());
    ASSERT_EQ(h.core.Connect("COM3"), 1);
  }
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

TEST_F(HidPollTick, HandlesOneInputReportPerTick) {
  h.hidDisplay.PressFunctionKey(3);
  h.hidDisplay.PressRoutingKey(12);
  h.Tick();
  EXPECT_EQ(h.host.events.size(), 1u);
  h.Tick();
  EXPECT_EQ(h.host.events.size(), 2u);
}

TEST_F(HidPollTick, SendsAWaitingFrameOnTheTickAfterTheAcknowledgement) {
  h.WriteText({0x01});
  h.WriteText({0x02});
  EXPECT_EQ(h.HidFrames(), 1u);
  h.Tick();  // reads the acknowledgement
  EXPECT_EQ(h.HidFrames(), 1u);
  h.Tick();
  EXPECT_EQ(h.HidFrames(), 2u);
  EXPECT_EQ(h.LastHidFrame()[0], 0x04);
}

TEST_F(HidPollTick, ALateAcknowledgementNeedsMoreThan1000Ms) {
  Silence();
  h.WriteText({0x01});
  h.WriteText({0x02});  // waits in the ring
  PollAt(1000);
  EXPECT_TRUE(h.control.queued.empty());
  EXPECT_EQ(h.HidFrames(), 1u);

  PollAt(1001);  // lost: closed, ring dropped, found again, buffer resent
  EXPECT_TRUE(h.control.queued.empty()) << "a clear would blank the resent cells";
  EXPECT_EQ(h.core.hid().queueRead(), h.core.hid().queueWrite());
  EXPECT_TRUE(h.HidOpen());
  EXPECT_EQ(h.HidFrames(), 2u);
  EXPECT_EQ(h.LastHidFrame(), h.Cells(0, 42));
  EXPECT_EQ(h.hidDisplay.handshakeRequests(), 1);
}

TEST_F(HidPollTick, AnUnpluggedDisplayIsSearchedForAndGetsTheCellsBackWithoutAHandshake) {
  h.WriteText({0x07, 0x38});
  h.Tick();
  h.Unplug();
  h.WriteText({0x01});  // goes nowhere
  h.Ticks(11);          // the time-out closes the device
  EXPECT_FALSE(h.HidOpen());
  EXPECT_EQ(h.control.clearsPosted, 0);
  const size_t searches = h.hidBus.listTimes().size();
  h.Ticks(3);
  EXPECT_GT(h.hidBus.listTimes().size(), searches);  // every tick searches
  EXPECT_FALSE(h.HidOpen());

  h.Replug();
  h.hidDisplay.ClearRecords();
  h.Tick();  // found on the next search, and the cells sent at once
  EXPECT_TRUE(h.HidOpen());
  EXPECT_EQ(h.hidDisplay.handshakeRequests(), 0);
  ASSERT_EQ(h.HidFrames(), 1u);
  EXPECT_EQ(h.hidDisplay.frames()[0], h.Cells(0, 42));
  EXPECT_EQ(h.hidDisplay.frames()[0][1], 0xE0);
  h.Ticks(12);  // and they stay: nothing blanks them behind the resend
  EXPECT_EQ(h.hidDisplay.frames().back(), h.Cells(0, 42));
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
  EXPECT_EQ(h.shared.suspended.load(), 1);
  EXPECT_EQ(h.control.queued, std::vector<Command>{Command::Suspend});
  h.control.RunQueued(h.core);
  EXPECT_FALSE(h.serialPorts.portOpen());
  EXPECT_EQ(h.control.clearsPosted, 1);  // not queued: the driver is suspended
  EXPECT_TRUE(h.control.queued.empty());
}

TEST_F(SerialPollTick, ResumingAfterTheSelfSuspensionReconnects) {
  h.serialDisplay.SetCellsAck(sim::CellsAckPolicy::kNone);
  for (int i = 0; i < 4; ++i) TimeOut();
  h.control.RunQueued(h.core);
  ASSERT_EQ(h.shared.suspended.load(), 1);

  h.serialDisplay.SetCellsAck(sim::CellsAckPolicy::kAll);
  h.shared.suspended = 0;  // the host's SetSuspended(0)
  h.core.Suspend(0);
  EXPECT_EQ(h.core.linkKind(), LinkKind::Serial);
  EXPECT_EQ(Retries(), 0);
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
