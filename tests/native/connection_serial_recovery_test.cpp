// A lost serial display comes back by itself, without any call of the host's.
#include <gtest/gtest.h>

#include <string>

#include "connection/share_block.h"
#include "support/connection_harness.h"

namespace zol {
namespace {

class SerialRecovery : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(h.core.Connect("COM3"), 1);
    h.Tick();  // the acknowledgement of the handshake's confirmation
    h.WriteText({0x07, 0x38});
    h.Tick();
  }
  void LoseByTimeOuts() {
    h.serialDisplay.SetCellsAck(sim::CellsAckPolicy::kNone);
    for (int i = 0; i < 4; ++i) {
      h.WriteText({0x01});
      h.Ticks(5);
    }
    h.serialDisplay.SetCellsAck(sim::CellsAckPolicy::kAll);
  }
  bool Suspended() const { return h.shared.suspended.load() != 0; }
  size_t Requests() const { return h.serialDisplay.CountPackets(PKT_IDENTIFY); }

  test::ConnectionHarness h;
};

TEST_F(SerialRecovery, AfterFourTimeOutsTheDisplayIsTriedEvery2sAndGetsItsCellsBackWhenItAnswers) {
  h.serialDisplay.SetAnswerIdentify(false);
  LoseByTimeOuts();
  ASSERT_EQ(h.shared.suspended.load(), SharedState::kSuspendedByDriver);
  EXPECT_FALSE(h.serialPorts.portOpen());
  const size_t before = Requests();
  h.Ticks(19);
  EXPECT_EQ(Requests(), before);  // nothing within the first 2 s
  h.Ticks(80);
  EXPECT_EQ(Requests(), before + 4);  // then one request every 2 s
  EXPECT_TRUE(Suspended());

  h.serialDisplay.SetAnswerIdentify(true);
  h.Ticks(21);
  EXPECT_FALSE(Suspended());
  EXPECT_EQ(h.core.serial().serialRetryCount(), 0);
  EXPECT_EQ(h.LastSerialFrame(), h.Cells(0, 42));  // the cell buffer resent
  h.WriteText({0x38});
  h.Tick();
  EXPECT_EQ(h.LastSerialFrame()[2], 0xE0);
}

TEST_F(SerialRecovery, APortFailureLosesTheDisplayWhichComesBackOnceThePortDoes) {
  struct Case {
    const char* name;
    bool onWrite;
    bool portVanishes;  // a USB-serial adapter unplugged, or only the display silent
  };
  const Case cases[] = {{"read, port vanishes", false, true},
                        {"write, port vanishes", true, true},
                        {"read error, port stays", false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::ConnectionHarness l;
    ASSERT_EQ(l.core.Connect("COM3"), 1);
    l.Tick();
    l.WriteText({0x07});
    l.Tick();
    if (c.portVanishes) {
      l.serialPorts.SetVanished(true);
    } else {
      l.serialPorts.SetReadResult(sim::kSimErrorNotReady);
    }
    if (c.onWrite) l.WriteText({0x07});
    l.Tick();
    EXPECT_EQ(l.shared.suspended.load(), SharedState::kSuspendedByDriver);
    EXPECT_FALSE(l.serialPorts.portOpen());
    l.Ticks(30);  // gone for 3 s: attempts fail
    EXPECT_NE(l.shared.suspended.load(), 0);
    l.serialPorts.SetVanished(false);
    l.serialPorts.SetReadResult(0);
    l.Ticks(21);
    EXPECT_EQ(l.shared.suspended.load(), 0);
    EXPECT_TRUE(l.serialPorts.portOpen());
    EXPECT_EQ(l.LastSerialFrame()[2], 0x0E);
  }
}

TEST_F(SerialRecovery, ASuspensionTheHostAskedForIsNeverEndedByTheDriver) {
  LoseByTimeOuts();
  h.shared.suspended.exchange(1);  // SetSuspended(1)
  h.core.Suspend(1);
  const size_t before = Requests();
  h.Ticks(100);
  EXPECT_EQ(Requests(), before);
  EXPECT_EQ(h.shared.suspended.load(), 1);
  EXPECT_FALSE(h.serialPorts.portOpen());
}

TEST_F(SerialRecovery, AReturnedPortStillHeldByTheBorrowerIsTriedEveryTickFor5s) {
  h.share.Create();
  h.Ticks(2);
  h.share.SetWord(kShareWordOffset, SHARE_REQUEST_RELEASE);
  h.Tick();
  ASSERT_FALSE(h.serialPorts.portOpen());
  h.serialPorts.SetOpenResult(error_code::kAccessDenied);  // the borrower closes it late
  h.share.SetWord(kShareWordOffset, SHARE_RETURN_BASE);
  h.Tick();
  EXPECT_EQ(h.shared.suspended.load(), SharedState::kSuspendedByDriver);
  const int opens = h.serialPorts.openCount();
  h.Ticks(5);
  EXPECT_EQ(h.serialPorts.openCount(), opens);  // refused: still held
  h.serialPorts.SetOpenResult(0);
  h.Ticks(2);
  EXPECT_EQ(h.shared.suspended.load(), 0);
  EXPECT_EQ(h.LastSerialFrame()[2], 0x0E);
}

}  // namespace
}  // namespace zol
