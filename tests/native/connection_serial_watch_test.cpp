// Recovering a lost serial display: the pace of the attempts, one identify request each, and
// the end of the driver's own suspension.
#include <gtest/gtest.h>

#include <vector>

#include "connection/serial_watch.h"
#include "testing/link_stack.h"

namespace zol {
namespace {

class SerialWatchTest : public ::testing::Test,
                        protected testing::SimSerialSide,
                        protected testing::LinkStack<SerialLink> {
 protected:
  SerialWatchTest() : LinkStack(ports, clock) {}

  void SetUp() override { ASSERT_EQ(link.OpenSerialPort("COM3"), 1); }
  // Polls every 100 ms for ms, the port refused until refusedMs; when, counted from the
  // start, each identify request went out.
  std::vector<uint32_t> RequestTimes(uint32_t ms, uint32_t refusedMs) {
    std::vector<uint32_t> times;
    for (uint32_t t = 100; t <= ms; t += 100) {
      clock.Advance(100);
      ports.SetOpenResult(t < refusedMs ? error_code::kAccessDenied : 0);
      const size_t before = display.CountPackets(PKT_IDENTIFY);
      watch.Poll();
      if (display.CountPackets(PKT_IDENTIFY) > before) times.push_back(t);
    }
    return times;
  }

  SerialWatch watch{clock, shared, ack, link, "COM3"};
};

TEST_F(SerialWatchTest, AttemptsComeEvery2sOrEveryTickWhileThePortIsStillHeld) {
  struct Case {
    const char* name;
    uint32_t fastRetryMs;
    uint32_t refusedMs;
    std::vector<uint32_t> requests;
  };
  const Case cases[] = {
      {"ordinary pace", 0, 0, {2000, 4000, 6000}},
      {"port held for 1 s of 5", 5000, 1000, {1000, 1100, 3100, 5100}},
      {"port held past the fast attempts", 500, 3000, {4500}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    display.SetAnswerIdentify(false);
    shared.suspended = 0;
    ASSERT_TRUE(link.PortOpen() || link.OpenSerialPort("COM3"));
    watch.Lose(c.fastRetryMs);
    EXPECT_EQ(shared.suspended.load(), SharedState::kSuspendedByDriver);
    EXPECT_FALSE(link.PortOpen());
    EXPECT_TRUE(watch.recovering());
    EXPECT_EQ(RequestTimes(6000, c.refusedMs), c.requests);
    watch.Stop();
  }
}

TEST_F(SerialWatchTest, TheReplyEndsTheSuspensionAndTheDisplayWantsItsCells) {
  watch.Lose(0);
  clock.Advance(SerialWatch::kRecoveryIntervalMs);
  EXPECT_FALSE(watch.Poll());
  EXPECT_TRUE(watch.ServiceInput());  // the reply
  EXPECT_EQ(shared.suspended.load(), 0);
  EXPECT_FALSE(watch.recovering());
  EXPECT_TRUE(watch.Answering());
}

TEST_F(SerialWatchTest, ASuspensionOfTheHostsIsNeitherReplacedNorEnded) {
  shared.suspended = 1;
  watch.Lose(0);
  EXPECT_TRUE(link.PortOpen());  // the host's suspend closes it
  EXPECT_FALSE(watch.recovering());

  shared.suspended = 0;
  watch.Lose(0);
  shared.suspended = 1;  // the host suspends during the recovery
  EXPECT_TRUE(RequestTimes(6000, 0).empty());
  EXPECT_EQ(shared.suspended.load(), 1);
}

}  // namespace
}  // namespace zol
