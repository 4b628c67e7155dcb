#include <gtest/gtest.h>

#include "support/hid_fixture.h"

namespace zol::test {
namespace {

using Events = std::vector<testing::KeyEvent>;

class HidInput : public HidLinkTest {
 protected:
  HidInput() { shared.textCellCount = 40; }
  // The key events that one input report leads to.
  Events Decode(std::initializer_list<uint8_t> bytes) {
    host.events.clear();
    uint8_t payload[8] = {};
    std::copy(bytes.begin(), bytes.end(), payload);
    link.HandleHidInput(payload);
    return host.events;
  }
};

TEST_F(HidInput, KeyReportsReachTheirHandlers) {
  EXPECT_EQ(Decode({0xFD, 12}), (Events{{"Routing", 12}}));
  EXPECT_EQ(Decode({0xFE, 3}), (Events{{"F3", 0}}));
  EXPECT_EQ(Decode({0xFD, 0}), (Events{{"Routing", 0}}));
  EXPECT_EQ(Decode({0xFE, 17, 1, 2, 3}), (Events{{"SF1", 0}}));
}

TEST_F(HidInput, OtherKindsAreIgnored) {
  ack.ackPending = 1;
  EXPECT_EQ(Decode({0xFC, 12}), Events{});
  EXPECT_EQ(Decode({0x00, 12}), Events{});
  EXPECT_EQ(Decode({0xFB, 0xAA, 0x55, 0, 0, 40, 0}), Events{});  // a late reply
  EXPECT_EQ(Decode({0x7F, 0xFD}), Events{});
  EXPECT_EQ(ack.ackPending, 1);
}

TEST_F(HidInput, AnAcknowledgementOnlyClearsThePendingFrame) {
  bus.AddDisplay("display", hid::kProduct40, &display40);
  ASSERT_EQ(link.FindHidDisplay(), kHid40);
  const uint8_t cells[42] = {};
  link.SendHidFrame40(cells);
  link.SendHidFrame40(cells);
  EXPECT_EQ(Decode({0xFF, 0xFD, 12}), Events{});
  EXPECT_EQ(ack.ackPending, 0);
  EXPECT_EQ(bus.writes().size(), 6u);  // the waiting frame goes out on a later call
  EXPECT_EQ(link.queueWrite() - link.queueRead(), 1);
}

}  // namespace
}  // namespace zol::test
