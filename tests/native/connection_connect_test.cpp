#include <gtest/gtest.h>

#include <string>

#include "support/connection_harness.h"

namespace zol {
namespace {

TEST(Connect, UpperCasesTheNameAndPrefersHidWhateverTheName) {
  test::ConnectionHarness h;
  h.AddHid(sim::HidDisplay::Model40());
  EXPECT_EQ(h.core.Connect("com3"), 1);
  EXPECT_STREQ(h.core.connection().portName(), "COM3");
  EXPECT_EQ(h.core.linkKind(), LinkKind::Hid40);
  EXPECT_EQ(h.serialPorts.openCount(), 0);
  // The display settles for a second before the search starts.
  ASSERT_FALSE(h.hidBus.listTimes().empty());
  EXPECT_GT(h.hidBus.listTimes().front() - test::ConnectionHarness::kStart, 1000u);
}

TEST(Connect, CutsAnOverlongNameAndTakesNoNameAsEmpty) {
  test::ConnectionHarness h;
  const std::string longName = "\\\\.\\com" + std::string(300, 'x');
  h.core.Connect(longName.c_str());
  const std::string stored = h.core.connection().portName();
  EXPECT_EQ(stored.size(), 127u);
  EXPECT_EQ(stored.substr(0, 8), "\\\\.\\COMX");
  h.core.Connect(nullptr);
  EXPECT_STREQ(h.core.connection().portName(), "");
}

struct HidGeometryCase {
  bool wide;
  uint8_t replyText;
  uint8_t replyStatus;
  int32_t text;
};

class HidGeometry : public ::testing::TestWithParam<HidGeometryCase> {};

TEST_P(HidGeometry, ZeroTextCellsMeanTheModelsWidthAndStatusCellsAreAlwaysZero) {
  const HidGeometryCase& c = GetParam();
  test::ConnectionHarness h;
  sim::HidDisplayConfig config = c.wide ? sim::HidDisplay::Model80() : sim::HidDisplay::Model40();
  config.replyTextCells = c.replyText;
  config.replyStatusCells = c.replyStatus;
  h.AddHid(config);
  ASSERT_EQ(h.core.Connect("COM3"), 1);
  EXPECT_EQ(h.core.linkKind(), c.wide ? LinkKind::Hid80 : LinkKind::Hid40);
  EXPECT_EQ(h.shared.textCellCount.load(), c.text);
  EXPECT_EQ(h.shared.statusCellCount.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(Replies, HidGeometry,
                         ::testing::Values(HidGeometryCase{false, 0, 0, 40},
                                           HidGeometryCase{true, 0, 0, 80},
                                           HidGeometryCase{false, 32, 4, 32},
                                           HidGeometryCase{true, 40, 2, 40}));

TEST(Connect, AHidHandshakeFailureClosesTheDeviceAndDoesNotTrySerial) {
  test::ConnectionHarness h;
  sim::HidDisplayConfig silent = sim::HidDisplay::Model40();
  silent.replies = false;
  h.AddHid(silent);
  EXPECT_EQ(h.core.Connect("COM3"), 0);
  EXPECT_EQ(h.hidBus.openHandles(), 0);
  EXPECT_EQ(h.serialPorts.openCount(), 0);
  EXPECT_EQ(h.core.linkKind(), LinkKind::None);
  EXPECT_EQ(h.core.connection().connecting(), 0);
}

TEST(Connect, FallsBackToTheSerialPortAndKeepsItsGeometry) {
  test::ConnectionHarness h;
  h.serialDisplay.SetGeometry(80, 4);
  EXPECT_EQ(h.core.Connect("com3"), 1);
  EXPECT_EQ(h.core.linkKind(), LinkKind::Serial);
  EXPECT_EQ(h.shared.textCellCount.load(), 80);
  EXPECT_EQ(h.shared.statusCellCount.load(), 4);
}

TEST(Connect, FailsWithoutADisplayOnEitherLink) {
  test::ConnectionHarness missingPort;
  EXPECT_EQ(missingPort.core.Connect("COM4"), 0);
  EXPECT_EQ(missingPort.core.linkKind(), LinkKind::None);

  test::ConnectionHarness silent;
  silent.serialDisplay.SetAnswerIdentify(false);
  EXPECT_EQ(silent.core.Connect("COM3"), 0);
  EXPECT_EQ(silent.core.linkKind(), LinkKind::None);
  EXPECT_FALSE(silent.serialPorts.portOpen());
}

TEST(Connect, OnTopOfAnOpenLinkStartsAfresh) {
  test::ConnectionHarness serial;
  ASSERT_EQ(serial.core.Connect("COM3"), 1);
  EXPECT_EQ(serial.core.Connect("COM3"), 1);
  EXPECT_EQ(serial.core.linkKind(), LinkKind::Serial);
  EXPECT_EQ(serial.SerialFrames(), 0u) << "the link before is closed without a blank";

  test::ConnectionHarness hid;
  ASSERT_EQ(hid.ConnectHid40(), 1);
  EXPECT_EQ(hid.core.Connect("COM3"), 1);
  EXPECT_EQ(hid.hidBus.openHandles(), 2);
}

TEST(Disconnect, BlanksAndClosesTheHidDeviceAndKeepsTheModel) {
  test::ConnectionHarness h;
  h.AddHid(sim::HidDisplay::Model80());
  ASSERT_EQ(h.core.Connect("COM3"), 1);
  h.core.Suspend(1);
  EXPECT_EQ(h.hidBus.openHandles(), 0);
  EXPECT_EQ(h.core.linkKind(), LinkKind::Hid80);
  ASSERT_EQ(h.HidFrames(), 1u);
  EXPECT_EQ(h.LastHidFrame(), std::vector<uint8_t>(82, 0));
  h.core.Suspend(1);  // already closed: nothing more is sent
  EXPECT_EQ(h.HidFrames(), 1u);
}

TEST(Disconnect, ClosesTheSerialPortAndResumeReconnectsWithTheStoredName) {
  test::ConnectionHarness h;
  ASSERT_EQ(h.core.Connect("com3"), 1);
  h.core.Suspend(1);
  EXPECT_FALSE(h.serialPorts.portOpen());
  EXPECT_EQ(h.core.linkKind(), LinkKind::None);
  h.core.Suspend(0);
  EXPECT_EQ(h.core.linkKind(), LinkKind::Serial);
  EXPECT_EQ(h.serialPorts.openCount(), 2);
}

}  // namespace
}  // namespace zol
