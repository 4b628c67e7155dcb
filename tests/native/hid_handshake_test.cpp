#include <gtest/gtest.h>

#include <string>

#include "support/hid_fixture.h"

namespace zol::test {
namespace {

constexpr uint32_t kReadWait = 50;

class HidHandshake : public HidLinkTest {
 protected:
  void Connect(const sim::HidDisplayConfig& config) {
    Plug40(config);
    start = clock.Now();
    slept = clock.sleptMs();
  }
  std::vector<uint32_t> RequestTimes() const {
    std::vector<uint32_t> times;
    for (const auto& write : bus.writes())
      if (Payload(write.report) ==
          std::vector<uint8_t>(hid::kHandshakeRequest, hid::kHandshakeRequest + 8))
        times.push_back(write.time - start);
    return times;
  }
  uint32_t start = 0;
  uint64_t slept = 0;
};

TEST_F(HidHandshake, ASilentDisplayCosts201Reads201WaitsAnd21Requests) {
  sim::HidDisplayConfig config = sim::HidDisplay::Model40();
  config.replies = false;
  Connect(config);
  EXPECT_EQ(link.HidHandshake(), 0);
  EXPECT_EQ(bus.reads(), 201);
  EXPECT_EQ(clock.sleptMs() - slept, 201u * kReadWait);
  EXPECT_EQ(display40.handshakeRequests(), 21);
  // The first request at once, the first repeat after the 11th read, then one every 10 reads;
  // the 20th repeat is the last thing done.
  std::vector<uint32_t> expected{0};
  for (uint32_t repeat = 1; repeat <= 20; ++repeat)
    expected.push_back((1 + 10 * repeat) * kReadWait);
  EXPECT_EQ(RequestTimes(), expected);
}

using HidHandshakeTiming = HidHandshake;

TEST_F(HidHandshakeTiming, SleepsThatLastAWholeTimerPeriodDoNotStretchTheWaits) {
  clock.set_sleep_granularity(16);
  sim::HidDisplayConfig config = sim::HidDisplay::Model40();
  config.replies = false;
  Connect(config);
  EXPECT_EQ(link.HidHandshake(), 0);
  EXPECT_GE(clock.Now() - start, 201u * kReadWait);
  EXPECT_LE(clock.Now() - start, 201u * kReadWait + 16);
}

TEST_F(HidHandshake, AReplyAfterFifteenReadsEndsItWithOneRepeatSent) {
  sim::HidDisplayConfig config = sim::HidDisplay::Model40();
  config.replyDelayMs = 14 * kReadWait;  // due when the 15th read starts
  config.replyTextCells = 44;
  config.replyStatusCells = 2;
  Connect(config);
  EXPECT_EQ(link.HidHandshake(), 1);
  EXPECT_EQ(bus.reads(), 15);
  EXPECT_EQ(display40.handshakeRequests(), 2);
  EXPECT_EQ(shared.textCellCount.load(), 44);
  EXPECT_EQ(shared.statusCellCount.load(), 2);
}

TEST_F(HidHandshake, AKeyPressedMeanwhileIsDroppedAndReadingGoesOn) {
  sim::HidDisplayConfig config = sim::HidDisplay::Model40();
  config.replyDelayMs = 2 * kReadWait;
  Connect(config);
  display40.PressRoutingKey(5);
  EXPECT_EQ(link.HidHandshake(), 1);
  EXPECT_EQ(bus.reads(), 4);  // the key and nothing more; nothing yet; the reply
  EXPECT_TRUE(host.events.empty());
  EXPECT_EQ(display40.InputWaiting(), 0u);
}

struct Counts {
  uint8_t text, status;
};

class HidHandshakeCounts : public HidHandshake, public ::testing::WithParamInterface<Counts> {};

TEST_P(HidHandshakeCounts, StoresTheReplysCountsAsTheyCame) {
  sim::HidDisplayConfig config = sim::HidDisplay::Model40();
  config.replyTextCells = GetParam().text;
  config.replyStatusCells = GetParam().status;
  Connect(config);
  shared.textCellCount = 99;
  EXPECT_EQ(link.HidHandshake(), 1);
  EXPECT_EQ(shared.textCellCount.load(), GetParam().text);
  EXPECT_EQ(shared.statusCellCount.load(), GetParam().status);
  EXPECT_EQ(bus.reads(), 1);
}

INSTANTIATE_TEST_SUITE_P(Replies, HidHandshakeCounts,
                         ::testing::Values(Counts{40, 0}, Counts{0, 4}, Counts{80, 0},
                                           Counts{255, 255}),
                         [](const ::testing::TestParamInfo<Counts>& info) {
                           return "Text" + std::to_string(info.param.text) + "Status" +
                                  std::to_string(info.param.status);
                         });

}  // namespace
}  // namespace zol::test
