#include <gtest/gtest.h>

#include "connection/share_block.h"
#include "support/connection_harness.h"

namespace zol {
namespace {

class PortSharingTest : public ::testing::Test {
 protected:
  // A serial display on COM3 and a section that is open and examined from the next tick.
  void SetUp() override {
    h.serialDisplay.SetGeometry(40, 2, 0xA5, 0x5A);
    ASSERT_EQ(h.core.Connect("COM3"), 1);
    h.share.Create();
    h.Tick();
  }
  int32_t Word() const { return h.share.Word(kShareWordOffset); }
  void SetWord(int32_t value) { h.share.SetWord(kShareWordOffset, value); }

  test::ConnectionHarness h;
};

TEST_F(PortSharingTest, ASectionIsOpenedAtTheNextTickAndExaminedFromTheOneAfter) {
  test::ConnectionHarness late;
  ASSERT_EQ(late.core.Connect("COM3"), 1);
  late.Ticks(2);
  EXPECT_EQ(late.share.opens, 0);
  late.share.Create();
  late.share.SetWord(kShareWordOffset, 77);
  late.Tick();
  EXPECT_EQ(late.share.opens, 1);
  EXPECT_EQ(late.share.Word(kShareWordOffset), 77);
  late.Tick();
  EXPECT_EQ(late.share.Word(kShareWordOffset), 3);
  EXPECT_EQ(late.share.opens, 1);
}

TEST_F(PortSharingTest, PublishesTheComNumberOverAnyWordBelow200) {
  for (int32_t word : {0, 55, -1, INT32_MIN, 199}) {
    SetWord(word);
    h.Tick();
    EXPECT_EQ(Word(), 3) << word;
  }
}

TEST_F(PortSharingTest, ReleasesThePortOnRequestAndThenLeavesTheBlockAlone) {
  SetWord(SHARE_REQUEST_RELEASE);
  h.Tick();
  EXPECT_EQ(Word(), SHARE_RELEASED);
  EXPECT_EQ(h.share.Word(kShareIdentify1Offset), 0xA5);
  EXPECT_EQ(h.share.Word(kShareIdentify2Offset), 0x5A);
  EXPECT_FALSE(h.serialPorts.portOpen());
  EXPECT_TRUE(h.core.portSharing().portReleased());

  const int reads = h.serialPorts.readCount();
  for (int32_t word : {SHARE_REQUEST_RELEASE, 7, -5, 199}) {
    SetWord(word);
    h.Ticks(2);
    EXPECT_EQ(Word(), word);
  }
  EXPECT_EQ(h.serialPorts.readCount(), reads);
  EXPECT_FALSE(h.serialPorts.portOpen());
}

TEST_F(PortSharingTest, AReturnAnswersNReconnectsAndDropsTheSectionForATick) {
  SetWord(SHARE_REQUEST_RELEASE);
  h.Tick();
  SetWord(305);
  h.Tick();
  EXPECT_EQ(Word(), 105);
  EXPECT_TRUE(h.serialPorts.portOpen());
  EXPECT_FALSE(h.core.portSharing().portReleased());
  EXPECT_FALSE(h.share.open);
  h.Tick();  // reopened
  EXPECT_EQ(Word(), 105);
  h.Tick();
  EXPECT_EQ(Word(), 3);
}

TEST_F(PortSharingTest, AReturnOf301ReleasesAgainAfterTheSectionIsReopened) {
  SetWord(301);
  h.Tick();
  EXPECT_EQ(Word(), SHARE_REQUEST_RELEASE);
  EXPECT_TRUE(h.serialPorts.portOpen());  // reconnected on top of the held port
  h.Ticks(2);
  EXPECT_EQ(Word(), SHARE_RELEASED);
  EXPECT_FALSE(h.serialPorts.portOpen());
}

TEST_F(PortSharingTest, AViewThatCannotBeMappedIsNeverTriedAgain) {
  test::ConnectionHarness broken;
  broken.share.Create();
  broken.share.mapFails = true;
  broken.share.SetWord(kShareWordOffset, SHARE_REQUEST_RELEASE);
  broken.Ticks(4);
  EXPECT_EQ(broken.share.opens, 1);
  EXPECT_EQ(broken.share.maps, 1);
  EXPECT_EQ(broken.share.Word(kShareWordOffset), SHARE_REQUEST_RELEASE);
}

// A loan belongs to the session that granted it: the next Open reads the port again.
TEST_F(PortSharingTest, ALoanEndsWithTheSessionThatGrantedIt) {
  SetWord(SHARE_REQUEST_RELEASE);
  h.Tick();
  ASSERT_EQ(Word(), SHARE_RELEASED);
  EXPECT_EQ(h.LastSerialFrame(), std::vector<uint8_t>(42, 0)) << "blanked before it is lent";
  h.core.Disconnect();  // Close
  h.core.Shutdown();
  EXPECT_FALSE(h.core.portSharing().portReleased());

  ASSERT_EQ(h.core.Connect("COM3"), 1);  // Open
  h.serialDisplay.SendFunctionKey(1);
  h.Ticks(3);
  ASSERT_EQ(h.host.events.size(), 1u);
  EXPECT_EQ(h.host.events[0].name, "F1");
  EXPECT_EQ(Word(), 3) << "the number is published again";
}

// A USB display is on no COM port: a request is answered with the number 0 and a return with
// the number it asks for, and the display stays open throughout, suspended or not.
TEST(PortSharingHid, AUsbDisplayHasNoPortToLendAndKeepsItsLink) {
  test::ConnectionHarness h;
  ASSERT_EQ(h.ConnectHid40(), 1);
  h.share.Create();
  h.Tick();
  const int opens = h.hidBus.stats(h.hidIndex).opens;
  for (int32_t suspended : {0, 1}) {
    h.shared.suspended = suspended;
    h.share.SetWord(kShareWordOffset, SHARE_REQUEST_RELEASE);
    h.Ticks(2);
    EXPECT_EQ(h.share.Word(kShareWordOffset), 0) << suspended;
    h.share.SetWord(kShareWordOffset, SHARE_RETURN_BASE + 7);
    h.Ticks(3);
    EXPECT_EQ(h.share.Word(kShareWordOffset), 0) << suspended;
  }
  EXPECT_EQ(h.core.portSharing().refusedRequests(), 2u);
  EXPECT_EQ(h.hidBus.stats(h.hidIndex).opens, opens);
  EXPECT_TRUE(h.HidOpen());
  h.shared.suspended = 0;
  h.hidDisplay.PressFunctionKey(1);
  h.Ticks(2);
  EXPECT_EQ(h.host.events.size(), 1u);
}

}  // namespace
}  // namespace zol
