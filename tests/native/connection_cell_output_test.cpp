#include <gtest/gtest.h>

#include <vector>

#include "support/connection_harness.h"

namespace zol {
namespace {

using Bytes = std::vector<uint8_t>;

class CellOutputTest : public ::testing::Test {
 protected:
  void ConnectHid40() { ASSERT_EQ(h.ConnectHid40(), 1); }
  void ConnectSerial40() {  // 40 text cells, 2 status cells
    ASSERT_EQ(h.core.Connect("COM3"), 1);
    ASSERT_EQ(h.core.linkKind(), LinkKind::Serial);
  }
  // Lets the display's acknowledgement of the last frame arrive.
  void Acknowledge() { h.Tick(); }

  test::ConnectionHarness h;
};

TEST_F(CellOutputTest, HidWithoutStatusCellsStoresTextAndAllCellsAlike) {
  ConnectHid40();
  h.WriteText({0x01, 0x1B});
  EXPECT_EQ(h.Cells(0, 3), (Bytes{0x08, 0xCC, 0x00}));
  Acknowledge();
  h.WriteAll({0x40, 0x80});
  EXPECT_EQ(h.Cells(0, 3), (Bytes{0x01, 0x10, 0x00}));
  EXPECT_EQ(h.LastHidFrame(), h.Cells(0, 42));
}

TEST_F(CellOutputTest, SerialTextCellsFollowTheStatusCells) {
  ConnectSerial40();
  h.WriteAll(Bytes(42, 0xFF));
  Acknowledge();
  h.WriteText(Bytes(40, 0x01));
  Bytes expected(42, 0x08);
  expected[0] = expected[1] = 0xFF;  // status cells keep their contents
  EXPECT_EQ(h.Cells(0, 42), expected);
  EXPECT_EQ(h.LastSerialFrame(), expected);
  EXPECT_EQ(h.SerialFrames(), 2u);
}

TEST_F(CellOutputTest, TheLinkFixesHowManyCellsGoOut) {
  ConnectHid40();
  h.WriteAll(Bytes(40, 0xFF));
  EXPECT_EQ(h.LastHidFrame(), h.Cells(0, 42));
  EXPECT_EQ(h.LastHidFrame()[40], 0x00);
  EXPECT_EQ(h.LastHidFrame()[41], 0x00);

  test::ConnectionHarness wide;
  wide.AddHid(sim::HidDisplay::Model80());
  ASSERT_EQ(wide.core.Connect("COM3"), 1);
  wide.WriteAll(Bytes(85, 0x01));
  EXPECT_EQ(wide.LastHidFrame(), Bytes(82, 0x08));
}

TEST_F(CellOutputTest, BlankLeavesTheBufferAndAResendShowsItAgain) {
  ConnectHid40();
  h.WriteText({0x07, 0x38});
  Acknowledge();
  h.core.Clear();
  EXPECT_EQ(h.LastHidFrame(), Bytes(42, 0x00));
  EXPECT_EQ(h.Cells(0, 2), (Bytes{0x0E, 0xE0}));
  Acknowledge();
  h.core.cellOutput().ResendCells();
  EXPECT_EQ(h.LastHidFrame(), h.Cells(0, 42));
  EXPECT_EQ(h.HidFrames(), 3u);
}

TEST_F(CellOutputTest, WritesThatWouldPassTheBufferStoreOnlyWhatFits) {
  ConnectSerial40();
  h.WriteAll(Bytes(250, 0x01));
  EXPECT_EQ(h.Cells(0, CellOutput::kCellCount), Bytes(CellOutput::kCellCount, 0x08));

  h.shared.statusCellCount = 190;
  h.WriteText(Bytes(50, 0x40));
  EXPECT_EQ(h.Cells(189, 11),
            (Bytes{0x08, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01}));
  h.shared.statusCellCount = 255;  // nothing fits after that many status cells
  h.WriteText(Bytes(5, 0xFF));
  EXPECT_EQ(h.Cells(199, 1), Bytes{0x01});
}

TEST_F(CellOutputTest, RefusedWritesKeepTheBuffer) {
  h.WriteText({0xFF});  // no link at all
  EXPECT_EQ(h.Cells(0, 1), Bytes{0x00});

  ConnectSerial40();
  h.shared.suspended = 1;  // a write handled after the host suspended a serial driver
  h.WriteText({0xFF});
  EXPECT_EQ(h.Cells(2, 1), Bytes{0x00});
  EXPECT_EQ(h.SerialFrames(), 0u);
}

TEST_F(CellOutputTest, HidWritesGoOutWhileSuspendedAndWithoutADeviceAreKeptForItsReturn) {
  ConnectHid40();
  h.shared.suspended = 1;  // the suspend command itself has not run yet
  h.WriteText({0xFF});
  EXPECT_EQ(h.HidFrames(), 1u);

  h.shared.suspended = 0;
  h.Unplug();
  h.Tick();  // lost, and searched for
  h.WriteText({0x01, 0x01});
  EXPECT_EQ(h.HidFrames(), 1u);
  EXPECT_EQ(h.Cells(0, 2), (Bytes{0x08, 0x08}));
  h.Replug();
  h.Ticks(5);
  EXPECT_EQ(h.LastHidFrame(), h.Cells(0, 42));
}

}  // namespace
}  // namespace zol
