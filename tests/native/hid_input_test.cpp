#include <gtest/gtest.h>

#include "support/hid_fixture.h"

namespace zol::test {
namespace {

using HidInput = HidLinkTest;
using Calls = std::vector<HidKeyCall>;

Calls Decode(HidLink& link, std::initializer_list<uint8_t> bytes) {
  HidKeyCalls().clear();
  uint8_t payload[8] = {};
  std::copy(bytes.begin(), bytes.end(), payload);
  link.HandleHidInput(payload);
  return HidKeyCalls();
}

TEST_F(HidInput, KeyReportsReachTheirHandlers) {
  EXPECT_EQ(Decode(link, {0xFD, 12}), (Calls{{HidKeyCall::Routing, 12}}));
  EXPECT_EQ(Decode(link, {0xFE, 3}), (Calls{{HidKeyCall::Function, 3}}));
  EXPECT_EQ(Decode(link, {0xFD, 0}), (Calls{{HidKeyCall::Routing, 0}}));
  EXPECT_EQ(Decode(link, {0xFE, 0xFF, 1, 2, 3}), (Calls{{HidKeyCall::Function, 0xFF}}));
}

TEST_F(HidInput, OtherKindsAreIgnored) {
  ack.ackPending = 1;
  EXPECT_EQ(Decode(link, {0xFC, 12}), Calls{});
  EXPECT_EQ(Decode(link, {0x00, 12}), Calls{});
  EXPECT_EQ(Decode(link, {0xFB, 0xAA, 0x55, 0, 0, 40, 0}), Calls{});  // a late reply
  EXPECT_EQ(Decode(link, {0x7F, 0xFD}), Calls{});
  EXPECT_EQ(ack.ackPending, 1);
}

TEST_F(HidInput, AnAcknowledgementOnlyClearsThePendingFrame) {
  bus.AddDisplay("display", hid::kProduct40, &display40);
  ASSERT_EQ(link.FindHidDisplay(), kHid40);
  const uint8_t cells[42] = {};
  link.SendHidFrame40(cells);
  link.SendHidFrame40(cells);
  EXPECT_EQ(Decode(link, {0xFF, 0xFD, 12}), Calls{});
  EXPECT_EQ(ack.ackPending, 0);
  EXPECT_EQ(bus.writes().size(), 6u);  // the waiting frame goes out on a later call
  EXPECT_EQ(link.queueWrite() - link.queueRead(), 1);
}

}  // namespace
}  // namespace zol::test
