#include <gtest/gtest.h>

#include <array>

#include "support/hid_fixture.h"

namespace zol::test {
namespace {

using Bytes = std::vector<uint8_t>;
using Cells = std::array<uint8_t, 128>;

// Cells numbered from `first`: c0 = first, c1 = first + 1, ...
Cells Numbered(uint8_t first) {
  Cells cells{};
  for (size_t i = 0; i < cells.size(); ++i) cells[i] = static_cast<uint8_t>(first + i);
  return cells;
}
Cells Filled(uint8_t value) {
  Cells cells;
  cells.fill(value);
  return cells;
}

class HidFrames : public HidLinkTest {
 protected:
  void Open(uint16_t product) {
    bus.AddDisplay("display", product, product == hid::kProduct40 ? &display40 : &display80);
    ASSERT_NE(link.FindHidDisplay(), kHidNone);
  }
  // A blank 80-cell frame goes out and one numbered from 1 (c0 = 1) waits in the ring behind it.
  void SendBlankThenNumbered80() {
    const Cells blank = Filled(0);
    link.SendHidFrame80(blank.data());
    const Cells numbered = Numbered(1);
    link.SendHidFrame80(numbered.data());
  }
  // The display acknowledges the frame in flight; the next one waiting in the ring goes out.
  void AcknowledgeAndSendNext(HidKind kind = kHid40) {
    const uint8_t report[8] = {0xFF};
    link.HandleHidInput(report);
    link.SendNextQueuedFrame(kind);
  }
};

TEST_F(HidFrames, Frame40IsSixReportsWithTheMarksAroundTheCells) {
  Open(hid::kProduct40);
  const Cells c = Numbered(1);  // c0 = 1 ... c41 = 42
  link.SendHidFrame40(c.data());
  ASSERT_EQ(bus.writes().size(), 6u);
  EXPECT_EQ(WrittenPayload(0), (Bytes{0xFF, 0xAA, 0x55, 1, 2, 3, 4, 5}));
  EXPECT_EQ(WrittenPayload(1), (Bytes{6, 7, 8, 9, 10, 11, 12, 13}));
  EXPECT_EQ(WrittenPayload(2), (Bytes{14, 15, 16, 17, 18, 19, 20, 21}));
  EXPECT_EQ(WrittenPayload(3), (Bytes{22, 23, 24, 25, 26, 27, 28, 29}));
  EXPECT_EQ(WrittenPayload(4), (Bytes{30, 31, 32, 33, 34, 35, 36, 37}));
  EXPECT_EQ(WrittenPayload(5), (Bytes{38, 39, 40, 41, 42, 0x55, 0xAA, 0xFF}));
  for (const auto& write : bus.writes()) EXPECT_EQ(write.report[0], 0);
  EXPECT_EQ(ack.ackPending, 1);
  ASSERT_EQ(display40.frames().size(), 1u);
  EXPECT_EQ(display40.frames()[0], Bytes(c.begin(), c.begin() + 42));
}

TEST_F(HidFrames, Frame80IsElevenReportsWithTheMarksAroundTheCells) {
  Open(hid::kProduct80);
  const Cells c = Numbered(1);  // c(n) = n + 1
  link.SendHidFrame80(c.data());
  ASSERT_EQ(bus.writes().size(), 11u);
  EXPECT_EQ(WrittenPayload(0), (Bytes{0xFF, 0xAA, 0x55, 1, 2, 3, 4, 5}));
  for (int k = 2; k <= 10; ++k) {  // report k carries c(8k - 11) to c(8k - 4)
    Bytes expected;
    for (int n = 8 * k - 11; n <= 8 * k - 4; ++n) expected.push_back(static_cast<uint8_t>(n + 1));
    EXPECT_EQ(WrittenPayload(k - 1), expected) << "report " << k;
  }
  EXPECT_EQ(WrittenPayload(10), (Bytes{78, 79, 80, 81, 82, 0x55, 0xAA, 0xFF}));
  ASSERT_EQ(display80.frames().size(), 1u);
  EXPECT_EQ(display80.frames()[0], Bytes(c.begin(), c.begin() + 82));
}

TEST_F(HidFrames, TheFrameTickIsTakenJustBeforeTheLastReport) {
  Open(hid::kProduct40);
  bus.set_writeCostMs(3);
  const Cells c = Filled(0);
  link.SendHidFrame40(c.data());
  ASSERT_EQ(bus.writes().size(), 6u);
  EXPECT_EQ(ack.lastFrameTick, bus.writes()[5].time);
  EXPECT_EQ(ack.lastFrameTick, bus.writes()[4].time + 3);
}

TEST_F(HidFrames, WithoutADeviceAFrameStillWaitsForItsAcknowledgement) {
  clock.Advance(500);
  const Cells c = Filled(0);
  link.SendHidFrame40(c.data());
  EXPECT_EQ(ack.ackPending, 1);
  EXPECT_EQ(ack.lastFrameTick, kStart + 500);
  EXPECT_TRUE(bus.writes().empty());
}

TEST_F(HidFrames, ASecondQuickFrameWaitsInRowZero) {
  Open(hid::kProduct40);
  const Cells first = Filled(1), second = Numbered(100);
  link.SendHidFrame40(first.data());
  link.SendHidFrame40(second.data());
  EXPECT_EQ(bus.writes().size(), 6u);
  EXPECT_EQ(link.queueRead(), 0);
  EXPECT_EQ(link.queueWrite(), 1);
  EXPECT_EQ(Bytes(link.pendingRow(0), link.pendingRow(0) + 40),
            Bytes(second.begin(), second.begin() + 40));
}

TEST_F(HidFrames, NineQuickFramesFillSevenRowsAndTheLaterOnesReplaceTheNewest) {
  Open(hid::kProduct40);
  for (uint8_t frame = 1; frame <= 9; ++frame) {
    const Cells c = Filled(frame);
    link.SendHidFrame40(c.data());
    if (frame == 8) {
      EXPECT_EQ(link.queueWrite(), 7);  // read 0, write 7: full
    }
  }
  EXPECT_EQ(bus.writes().size(), 6u);
  EXPECT_EQ(link.queueRead(), 0);
  EXPECT_EQ(link.queueWrite(), 7);
  for (int row = 0; row < 6; ++row) EXPECT_EQ(link.pendingRow(row)[0], row + 2) << row;
  EXPECT_EQ(link.pendingRow(6)[0], 9);  // frame 8 was replaced

  const Cells tenth = Filled(10);
  link.SendHidFrame40(tenth.data());
  EXPECT_EQ(link.queueWrite(), 7);
  EXPECT_EQ(link.pendingRow(5)[0], 7);
  EXPECT_EQ(link.pendingRow(6)[0], 10);

  // Drained one frame per acknowledgement, oldest first.
  size_t written = bus.writes().size();
  for (uint8_t expected : {2, 3, 4, 5, 6, 7, 10}) {
    link.SendNextQueuedFrame(kHid40);
    EXPECT_EQ(bus.writes().size(), written) << "a frame is still unacknowledged";
    AcknowledgeAndSendNext();
    ASSERT_EQ(bus.writes().size(), written + 6);
    written += 6;
    EXPECT_EQ(display40.frames().back()[0], expected);
  }
  EXPECT_EQ(link.queueRead(), link.queueWrite());
  AcknowledgeAndSendNext();
  EXPECT_EQ(bus.writes().size(), written);
  EXPECT_EQ(ack.ackPending, 0);
}

TEST_F(HidFrames, TheRingIsFullAcrossTheWrapToo) {
  Open(hid::kProduct40);
  const Cells blank = Filled(0);
  link.SendHidFrame40(blank.data());
  for (int i = 0; i < 5; ++i) link.SendHidFrame40(blank.data());
  for (int i = 0; i < 5; ++i) {
    AcknowledgeAndSendNext();
  }
  ASSERT_EQ(link.queueRead(), 5);
  ASSERT_EQ(link.queueWrite(), 5);
  for (uint8_t frame = 1; frame <= 7; ++frame) {
    const Cells c = Filled(frame);
    link.SendHidFrame40(c.data());
  }
  EXPECT_EQ(link.queueWrite(), 4);  // read 5, write 4: full
  EXPECT_EQ(link.pendingRow(3)[0], 7);
  const Cells eighth = Filled(8);
  link.SendHidFrame40(eighth.data());
  EXPECT_EQ(link.queueRead(), 5);
  EXPECT_EQ(link.queueWrite(), 4);
  EXPECT_EQ(link.pendingRow(3)[0], 8);
  EXPECT_EQ(link.pendingRow(2)[0], 6);
}

TEST_F(HidFrames, AQueuedFrameIsACopyAndItsLastCellsComeFromTheRow) {
  Open(hid::kProduct40);
  const Cells blank = Filled(0);
  link.SendHidFrame40(blank.data());
  Cells c = Numbered(1);  // cells 40 and 41 are 41 and 42
  link.SendHidFrame40(c.data());
  c.fill(0x77);  // later changes of the caller's cells do not reach the queued frame
  AcknowledgeAndSendNext();
  ASSERT_EQ(bus.writes().size(), 12u);
  EXPECT_EQ(WrittenPayload(10), (Bytes{30, 31, 32, 33, 34, 35, 36, 37}));
  EXPECT_EQ(WrittenPayload(11), (Bytes{38, 39, 40, 0, 0, 0x55, 0xAA, 0xFF}));
}

TEST_F(HidFrames, An80CellFrameFromTheRingEndsWithTwoZeroCells) {
  Open(hid::kProduct80);
  SendBlankThenNumbered80();  // cells 80, 81 are 81, 82
  AcknowledgeAndSendNext(kHid80);
  ASSERT_EQ(bus.writes().size(), 22u);
  EXPECT_EQ(WrittenPayload(21), (Bytes{78, 79, 80, 0, 0, 0x55, 0xAA, 0xFF}));
}

TEST_F(HidFrames, ARowThatOnceHeldAn80CellFrameLendsCells40And41ToA40CellFrame) {
  Open(hid::kProduct40);
  SendBlankThenNumbered80();  // in row 0, cells 40, 41 are 41, 42
  link.DropQueue();           // abandoned, as after a lost acknowledgement
  const Cells narrow = Filled(9);
  link.SendHidFrame40(narrow.data());  // row 0 again
  AcknowledgeAndSendNext();
  EXPECT_EQ(WrittenPayload(bus.writes().size() - 1), (Bytes{9, 9, 9, 41, 42, 0x55, 0xAA, 0xFF}));
}

}  // namespace
}  // namespace zol::test
