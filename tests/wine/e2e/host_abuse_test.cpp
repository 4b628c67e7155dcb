// The host misusing zol.dll: null and oversized arguments in every slot that takes one, long
// texts, and calls in any order, also from several threads at once.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "e2e_support.h"

namespace zol::e2e {
namespace {

using Bytes = std::vector<uint8_t>;

// Every slot that takes an argument, with nulls, negative and huge counts (the buffers behind
// the huge counts are real).
void CallEverySlotBadly(void* driver, CHost* host) {
  Bytes big(100000, 0xFF);
  std::vector<char> text(100000, 'x');
  EXPECT_EQ(CDriverWriteTextCells(driver, nullptr, 10), 0);
  EXPECT_EQ(CDriverWriteTextCells(driver, big.data(), -1), 0);
  EXPECT_EQ(CDriverWriteTextCells(driver, big.data(), INT32_MIN), 0);
  CDriverWriteTextCells(driver, big.data(), static_cast<int32_t>(big.size()));
  EXPECT_EQ(CDriverWriteAllCells(driver, nullptr, 10), 0);
  EXPECT_EQ(CDriverWriteAllCells(driver, big.data(), 0), 0);
  CDriverWriteAllCells(driver, big.data(), static_cast<int32_t>(big.size()));
  EXPECT_EQ(CDriverGetParameter1(driver, nullptr, 100), 0);
  EXPECT_EQ(CDriverGetParameter2(driver, nullptr, 100), 0);
  CDriverGetParameter1(driver, text.data(), 0);
  CDriverGetParameter1(driver, text.data(), -7);
  const int32_t length = CDriverGetParameter1(driver, text.data(), 100000);
  EXPECT_GE(length, 0);
  EXPECT_LT(length, 100000);
  CDriverGetParameter2(driver, text.data(), 100000);
  uint8_t guid[16] = {};
  char name[8] = {};
  EXPECT_EQ(CDriverGetDriverIdentity(driver, nullptr, 0, guid), 0);
  CDriverGetDriverIdentity(driver, name, 0, guid);
  CDriverGetDriverIdentity(driver, name, -1, guid);
  CDriverGetDriverIdentity(driver, text.data(), 100000, guid);
  CDriverSetSuspended(driver, INT32_MIN);
  CDriverSetSuspended(driver, 0);
  EXPECT_EQ(CDriverCallReservedSlots(driver), 0);
  CDriverSetHost(driver, nullptr);
  CDriverSetHost(driver, host);
}

TEST(HostAbuse, NullHugeAndLongArgumentsBeforeAndAfterAFailedOpen) {
  LoadedDriver dll;
  ASSERT_TRUE(dll.ok());
  CallEverySlotBadly(dll.driver, dll.host);
  EXPECT_EQ(CDriverOpen(dll.driver, nullptr, nullptr, nullptr, nullptr), 0);
  CallEverySlotBadly(dll.driver, dll.host);
  const std::string longText(10000, 'q');
  const std::string longPort = "COM250" + std::string(10000, '9');
  EXPECT_EQ(CDriverOpen(dll.driver, longPort.c_str(), dll.host, longText.c_str(), longText.c_str()),
            0);
  char parameter[256] = {};
  const int32_t length = CDriverGetParameter1(dll.driver, parameter, sizeof parameter);
  EXPECT_GE(length, 0);
  EXPECT_LT(length, 256);
  CallEverySlotBadly(dll.driver, dll.host);
  CDriverClose(dll.driver);
  CDriverClose(dll.driver);
  EXPECT_EQ(CDriverGetTextCellCount(dll.driver), 0);
}

// One round: writer threads hammer the write slots while this thread suspends, resumes and
// closes at random; returns the resources seen while the writers ran.
Resources HammerRound(unsigned seed) {
  LoadedDriver dll;
  EXPECT_TRUE(dll.ok());
  std::atomic<bool> stop{false};
  std::vector<std::thread> writers;
  for (int t = 0; t < 3; ++t) {
    writers.emplace_back([&, t] {
      Bytes cells(300, static_cast<uint8_t>(t));
      while (!stop) {
        CDriverWriteTextCells(dll.driver, cells.data(), 1 + (t * 97) % 300);
        CDriverWriteAllCells(dll.driver, cells.data(), 300);
        CDriverClearDisplay(dll.driver);
        CDriverGetTextCellCount(dll.driver);
      }
    });
  }
  std::mt19937 random(seed);
  for (int i = 0; i < 30; ++i) {
    switch (random() % 3) {
      case 0:
        CDriverSetSuspended(dll.driver, 1);
        break;
      case 1:
        CDriverSetSuspended(dll.driver, 0);
        break;
      default:
        CDriverClose(dll.driver);
        break;
    }
    Pump(20);
  }
  const Resources during = MeasureResources();
  stop = true;
  for (std::thread& writer : writers) writer.join();
  return during;
}

TEST(HostAbuse, WritesFromManyThreadsWhileAnotherSuspendsAndResumes) {
  HammerRound(1);  // lets the heaps and Wine's per-thread data settle
  const Resources before = MeasureResources();
  Resources during;
  for (unsigned round = 2; round <= 4; ++round) during = HammerRound(round);
  const Resources after = MeasureResources();
  std::printf("[ resources ] before: %s; while writing: %s; after 3 rounds: %s\n",
              Describe(before).c_str(), Describe(during).c_str(), Describe(after).c_str());
  EXPECT_GE(during.threads, before.threads + 3) << "the thread count sees the writers";
  EXPECT_LE(after.handles, before.handles + 2);
  EXPECT_LE(after.threads, before.threads);
  EXPECT_LT(after.privateBytes, before.privateBytes + 1024 * 1024);
}

// Each load of the module is a new copy of everything in it: whatever a load leaves behind in a
// host thread that outlives it adds up. Open fails here (no display on the port), but the worker
// thread and the device side come up all the same.
TEST(HostAbuse, LoadOpenCloseUnloadOverAndOverLeavesNothingBehind) {
  const auto session = [] {
    LoadedDriver dll;
    ASSERT_TRUE(dll.ok());
    EXPECT_EQ(CDriverOpen(dll.driver, "COM249", dll.host, "", ""), 0);
  };
  session();  // the first load brings up what the process keeps anyway
  const Resources before = MeasureResources();
  constexpr DWORD kLoads = 3;
  for (DWORD i = 0; i < kLoads; ++i) session();
  const Resources after = MeasureResources();
  // Wine opens a handle of its own now and then; one handle or more per load adds kLoads.
  EXPECT_LT(after.handles, before.handles + kLoads)
      << Describe(before) << " -> " << Describe(after);
  EXPECT_EQ(after.threads, before.threads);
}

}  // namespace
}  // namespace zol::e2e
