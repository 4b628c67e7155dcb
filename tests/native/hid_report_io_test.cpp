#include <gtest/gtest.h>

#include <string>

#include "support/hid_fixture.h"

namespace zol::test {
namespace {

using HidReportIo = HidLinkTest;

const uint8_t kPayload[8] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};

TEST_F(HidReportIo, WithoutADeviceWritesReportSuccessAndReadsNothing) {
  EXPECT_EQ(link.WriteHidReport(kPayload), 1);
  uint8_t in[8];
  EXPECT_EQ(link.ReadHidReport(in), -1);
  EXPECT_TRUE(bus.writes().empty());
  EXPECT_EQ(bus.reads(), 0);
}

TEST_F(HidReportIo, WritesReportIdZeroAndThePayload) {
  bus.AddDisplay("display", hid::kProduct40, &display40);
  ASSERT_EQ(link.FindHidDisplay(), kHid40);
  EXPECT_EQ(link.WriteHidReport(kPayload), 1);
  EXPECT_EQ(bus.writes().at(0).report,
            (std::vector<uint8_t>{0, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}));
}

TEST_F(HidReportIo, ReadsOneWaitingReportPerCallAndNothingWhenNoneWaits) {
  bus.AddDisplay("display", hid::kProduct40, &display40);
  ASSERT_EQ(link.FindHidDisplay(), kHid40);
  uint8_t in[8];
  EXPECT_EQ(link.ReadHidReport(in), -1);
  display40.PressRoutingKey(7);
  display40.PressFunctionKey(2);
  ASSERT_EQ(link.ReadHidReport(in), 9);
  EXPECT_EQ(std::vector<uint8_t>(in, in + 8), (std::vector<uint8_t>{0xFD, 7, 0, 0, 0, 0, 0, 0}));
  ASSERT_EQ(link.ReadHidReport(in), 9);
  EXPECT_EQ(in[0], 0xFE);
  EXPECT_EQ(link.ReadHidReport(in), -1);
  EXPECT_EQ(bus.reads(), 4);
  EXPECT_EQ(bus.misuses(), 0);  // every read went to the overlapped handle
}

struct OddLengths {
  uint16_t input, output;  // announced
  bool capsReadable;
  size_t readLength, writeLength;  // used
  bool works;                      // reports pass both ways
};

class HidOddLengths : public HidLinkTest, public ::testing::WithParamInterface<OddLengths> {};

TEST_P(HidOddLengths, NeverReachPastTheBuffersAndPadOutputWithZeros) {
  const OddLengths& c = GetParam();
  const size_t index = bus.AddDisplay("display", hid::kProduct40, &display40);
  bus.at(index).lengths = {c.input, c.output};
  bus.at(index).failReportLengths = !c.capsReadable;
  if (!c.capsReadable) bus.at(index).lengths = {9, 9};
  ASSERT_EQ(link.FindHidDisplay(), kHid40);

  // A report with something in every byte that a longer report could carry.
  std::vector<uint8_t> raw(300, 0xEE);
  raw[0] = 0;
  raw[1] = 0xFD;
  raw[2] = 12;
  display40.QueueRawReport(raw.data(), raw.size());

  EXPECT_EQ(link.WriteHidReport(kPayload), c.works ? 1 : 0);
  ASSERT_EQ(link.FindHidDisplay(), kHid40);  // a failed write loses the device: find it again
  uint8_t in[8];
  EXPECT_EQ(link.ReadHidReport(in), c.works ? 9 : -1);
  ASSERT_EQ(bus.writes().size(), 1u);
  const std::vector<uint8_t>& report = bus.writes()[0].report;
  EXPECT_EQ(report.size(), c.writeLength);
  EXPECT_EQ(bus.lastReadLength(), c.readLength);
  for (size_t i = 9; i < report.size(); ++i) ASSERT_EQ(report[i], 0) << i;
  if (c.works && c.input >= 3) {
    EXPECT_EQ(in[0], 0xFD);
    EXPECT_EQ(in[1], 12);
  }
  if (c.works && c.input > 0 && c.input < 9) {
    for (size_t i = c.input - 1; i < 8; ++i) EXPECT_EQ(in[i], 0) << i;  // not carried: 0
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, HidOddLengths,
    ::testing::Values(OddLengths{9, 9, true, 9, 9, true},            // the display's own
                      OddLengths{65, 64, true, 65, 64, true},        // longer reports
                      OddLengths{256, 256, true, 256, 256, true},    // the largest taken
                      OddLengths{300, 1000, true, 256, 256, false},  // too long to drive
                      OddLengths{3, 9, true, 3, 9, true},            // short input reports
                      OddLengths{9, 9, false, 9, 9, true}),          // capabilities unreadable
    [](const ::testing::TestParamInfo<OddLengths>& info) {
      return "In" + std::to_string(info.param.input) + "Out" + std::to_string(info.param.output) +
             (info.param.capsReadable ? "" : "Unreadable");
    });

TEST_F(HidReportIo, BytesAShorterReportDoesNotCarryAreZeroNotThoseOfTheReportBefore) {
  const size_t index = bus.AddDisplay("display", hid::kProduct40, &display40);
  ASSERT_EQ(link.FindHidDisplay(), kHid40);
  const uint8_t full[9] = {0, 0xFD, 12, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  display40.QueueRawReport(full, sizeof full);
  uint8_t in[8];
  ASSERT_EQ(link.ReadHidReport(in), 9);
  bus.at(index).lengths = {3, 9};  // the same path found again announcing shorter reports
  ASSERT_EQ(link.FindHidDisplay(), kHid40);
  display40.QueueRawReport(full, 3);
  ASSERT_EQ(link.ReadHidReport(in), 9);
  EXPECT_EQ(std::vector<uint8_t>(in, in + 8), (std::vector<uint8_t>{0xFD, 12, 0, 0, 0, 0, 0, 0}));
}

TEST_F(HidReportIo, AnnouncedLengthZeroIsTakenAsNineBytes) {
  const size_t index = bus.AddDisplay("display", hid::kProduct40, &display40);
  bus.at(index).lengths = {0, 0};
  ASSERT_EQ(link.FindHidDisplay(), kHid40);
  bus.at(index).lengths = {9, 9};  // what the display really takes
  EXPECT_EQ(link.WriteHidReport(kPayload), 1);
  EXPECT_EQ(bus.writes().at(0).report.size(), 9u);
}

}  // namespace
}  // namespace zol::test
