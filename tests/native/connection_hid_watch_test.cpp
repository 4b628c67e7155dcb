// Finding a lost HID display again: the pace of the searches and the settle before opening.
#include <gtest/gtest.h>

#include "connection/hid_watch.h"
#include "support/hid_fixture.h"

namespace zol::test {
namespace {

class HidWatchTest : public HidLinkTest {
 protected:
  void SetUp() override {
    index = bus.AddDisplay("display", hid::kProduct40, &display40);
    ASSERT_EQ(link.FindHidDisplay(), kHid40);
    flags.hidModel = kHid40;
  }
  // Polls every 100 ms for ms; how many searches listed the devices meanwhile.
  size_t SearchesOver(uint32_t ms) {
    const size_t before = bus.listTimes().size();
    for (uint32_t t = 0; t < ms; t += 100) {
      clock.Advance(100);
      watch.Poll();
    }
    return bus.listTimes().size() - before;
  }
  // A frame whose acknowledgement is overdue, noticed by the next poll.
  bool TimeOut() {
    ack.ackPending = 1;
    ack.lastFrameTick = clock.Now() - HidWatch::kAckTimeoutMs - 1;
    return watch.Poll();
  }

  LinkFlags flags;
  HidWatch watch{clock, shared, ack, link, flags};
  size_t index = 0;
};

TEST_F(HidWatchTest, SearchesComeEveryTickForASecondThenEvery500MsUntil10sThenEverySecond) {
  struct Case {
    uint32_t absentMs;
    uint32_t intervalMs;
  };
  const Case cases[] = {{0, 0},        {999, 0},      {1000, 500},        {9999, 500},
                        {10000, 1000}, {60000, 1000}, {0xFFFFFFFFu, 1000}};
  for (const Case& c : cases)
    EXPECT_EQ(HidWatch::SearchIntervalMs(c.absentMs), c.intervalMs) << c.absentMs;
}

TEST_F(HidWatchTest, ADisplaySeenIsOpenedOnlyOnceSettledAndThenWantsItsCells) {
  EXPECT_FALSE(TimeOut());  // lost, and seen at once by the first search
  EXPECT_EQ(bus.OpenHandlesOf(index), 0);
  struct Step {
    uint32_t advanceMs;
    bool found;
  };
  const Step steps[] = {{100, false}, {198, false}, {3, true}, {100, false}};
  for (const Step& s : steps) {
    clock.Advance(s.advanceMs);
    EXPECT_EQ(watch.Poll(), s.found) << clock.Now();
  }
  EXPECT_EQ(bus.OpenHandlesOf(index), 2);
  EXPECT_EQ(display40.handshakeRequests(), 0);
}

TEST_F(HidWatchTest, ADisplayLostAgainSoonAfterItWasFoundKeepsThePaceItsAbsenceHadReached) {
  struct Case {
    uint32_t foundForMs;
    size_t searchesIn2s;
  };
  const Case cases[] = {{1000, 2}, {3000, 2}, {6000, 12}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.foundForMs);
    watch.Stop();
    link.CloseDevice();
    bus.Unplug(index);
    SearchesOver(12000);  // gone long enough for searches every second
    bus.Replug(index);
    SearchesOver(1500);
    ASSERT_EQ(bus.OpenHandlesOf(index), 2);
    SearchesOver(c.foundForMs);
    bus.Unplug(index);
    TimeOut();
    EXPECT_EQ(SearchesOver(2000), c.searchesIn2s);
  }
}

TEST_F(HidWatchTest, NothingIsSearchedForWhileSuspended) {
  link.CloseDevice();
  shared.suspended = 1;
  EXPECT_EQ(SearchesOver(1000), 0u);
  shared.suspended = 0;
  EXPECT_EQ(SearchesOver(1000), 2u);  // seen at once, listed again to be opened once settled
}

}  // namespace
}  // namespace zol::test
