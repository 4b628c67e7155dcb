// Calls the host makes from inside its own callbacks, and from two threads at once: none waits
// for itself, none closes what another call owns, and the driver works afterwards.
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "driver_test_support.h"
#include "process_resources.h"

namespace {

enum class Call { kWrite, kClear, kSuspendAndResume, kClose };
const char* const kCallNames[] = {"write", "clear", "suspend and resume", "Close"};
// What each call leaves in the device side's log.
const char* const kCallEffects[] = {"WriteText(2:1122)", ";Clear", "Suspend(1);Suspend(0)",
                                    "Disconnect;Shutdown"};

// What the host does from inside its first callback after Arm().
struct Reentry {
  Call call = Call::kWrite;
  std::atomic<bool> armed{false};
  std::atomic<bool> done{false};
  std::atomic<DWORD> elapsedMs{0};

  void Arm(Call what) {
    call = what;
    done.store(false);
    armed.store(true);
  }
  static void Hook(void* context, void* driver, const char*) {
    auto* self = static_cast<Reentry*>(context);
    if (!self->armed.exchange(false)) return;
    const uint8_t dots[2] = {0x11, 0x22};
    const DWORD start = GetTickCount();
    switch (self->call) {
      case Call::kWrite:
        CDriverWriteTextCells(driver, dots, 2);
        break;
      case Call::kClear:
        CDriverClearDisplay(driver);
        break;
      case Call::kSuspendAndResume:
        CDriverSetSuspended(driver, 1);
        CDriverSetSuspended(driver, 0);
        break;
      case Call::kClose:
        CDriverClose(driver);
        break;
    }
    self->elapsedMs.store(GetTickCount() - start);
    self->done.store(true);
  }
};

class ReentrantCalls : public DriverTest, public ::testing::WithParamInterface<Call> {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    // A resume that reconnects for a second: a call that waited for it would show.
    control->SetDelays(0, 1000, 200, 0);
    ASSERT_EQ(Open(), 1);
    worker = control->CallThread();
    CHostSetHook(host, &Reentry::Hook, &reentry);
  }
  void TearDown() override {
    CHostSetHook(host, nullptr, nullptr);
    DriverTest::TearDown();
  }
  bool LogHas(const std::string& text) { return Log().find(text) != std::string::npos; }
  // What the call left behind, whichever callback it came from.
  void ExpectItsEffect(Call call) {
    const char* const effect = kCallEffects[static_cast<int>(call)];
    if (call == Call::kClose) {
      // Inside OnDeviceData the window's thread finishes the Close when it pumps.
      EXPECT_TRUE(PumpUntil([&] { return LogHas(effect); }));
      return;
    }
    EXPECT_TRUE(WaitUntil([&] { return LogHas(effect); })) << effect;
    // Keys go on reaching this thread.
    const int keys = KeyCount();
    control->AtNextTick(ScriptedAction::kPostKey, "F2", 0);
    ASSERT_TRUE(PumpUntil([&] { return KeyCount() > keys; }));
    EXPECT_EQ(CHostKeyThread(host, keys), GetCurrentThreadId());
  }
  void ExpectALaterOpenWorks() {
    CDriverClose(driver);
    control->SetDelays(0, 0, 0, 0);
    EXPECT_EQ(Open(), 1);
  }

  Reentry reentry;
  DWORD worker = 0;
};

TEST_P(ReentrantCalls, FromOnKeyEvent) {
  reentry.Arm(GetParam());
  control->AtNextTick(ScriptedAction::kPostKey, "F1", 0);
  ASSERT_TRUE(PumpUntil([&] { return reentry.done.load(); }));
  std::printf("[ reentry ] %s from OnKeyEvent: %lu ms\n", kCallNames[static_cast<int>(GetParam())],
              static_cast<unsigned long>(reentry.elapsedMs.load()));
  // Close keeps its own bound (the scripted disconnect takes 200 ms); nothing else waits.
  EXPECT_LT(reentry.elapsedMs.load(), GetParam() == Call::kClose ? 900u : 500u);
  if (GetParam() == Call::kClose) {
    EXPECT_TRUE(LogHas("Disconnect;Shutdown"));
  } else {
    ExpectItsEffect(GetParam());
  }
  ExpectALaterOpenWorks();
}

TEST_P(ReentrantCalls, FromOnDeviceDataOnTheWorkerThread) {
  reentry.Arm(GetParam());
  control->AtNextTick(ScriptedAction::kDeviceData, "abc", 3);
  ASSERT_TRUE(WaitUntil([&] { return reentry.done.load(); }));
  std::printf("[ reentry ] %s from OnDeviceData: %lu ms\n",
              kCallNames[static_cast<int>(GetParam())],
              static_cast<unsigned long>(reentry.elapsedMs.load()));
  EXPECT_LT(reentry.elapsedMs.load(), 500u);
  EXPECT_EQ(FindHiddenWindow(worker), nullptr) << "no window made on the worker thread";
  ExpectItsEffect(GetParam());
  ExpectALaterOpenWorks();
}

INSTANTIATE_TEST_SUITE_P(Calls, ReentrantCalls,
                         ::testing::Values(Call::kWrite, Call::kClear, Call::kSuspendAndResume,
                                           Call::kClose));

// A Close dispatched a key event while it waited (a message sent to this thread makes it pump),
// and the host closed again from inside OnKeyEvent: the inner Close returns at once and the
// outer one finishes alone.
TEST_F(DriverTest, CloseInsideCloseReturnsAtOnceAndTheOuterOneFinishes) {
  ASSERT_EQ(Open(), 1);
  Reentry reentry;
  CHostSetHook(host, &Reentry::Hook, &reentry);
  reentry.Arm(Call::kClose);
  control->SetDelays(0, 0, 1000, 0);
  RunAtNextTick(ScriptedAction::kPostKey, "F1", 0);  // queued for this thread, not yet taken
  EXPECT_TRUE(SentMessageHandledDuring([&] { CDriverClose(driver); }));
  EXPECT_TRUE(reentry.done.load());
  EXPECT_LT(reentry.elapsedMs.load(), 500u);
  EXPECT_EQ(Log(), "Connect(COM1);Disconnect;Shutdown");
  CHostSetHook(host, nullptr, nullptr);
  control->SetDelays(0, 0, 0, 0);
  EXPECT_EQ(Open(), 1);
}

// SetHost returns only once the callback into the old host that runs on the worker thread has
// returned: the host may free the old object right after.
TEST_F(DriverTest, SetHostWaitsForTheOldHostsCallbackOnTheWorkerThread) {
  ASSERT_EQ(Open(), 1);
  struct Busy {
    std::atomic<bool> entered{false};
    std::atomic<bool> left{false};
    static void Hook(void* context, void*, const char* name) {
      if (name != nullptr) return;
      auto* self = static_cast<Busy*>(context);
      self->entered.store(true);
      Sleep(300);
      self->left.store(true);
    }
  } busy;
  CHostSetHook(host, &Busy::Hook, &busy);
  control->AtNextTick(ScriptedAction::kDeviceData, "abc", 3);
  ASSERT_TRUE(WaitUntil([&] { return busy.entered.load(); }));
  EXPECT_EQ(CDriverSetHost(driver, nullptr), host);
  EXPECT_TRUE(busy.left.load());
  CHostSetHook(host, nullptr, nullptr);
}

// Open and Close from two threads at once, over and over: one worker thread at a time, and every
// handle and thread of a session is given back exactly once.
TEST_F(DriverTest, OpenAndCloseFromTwoThreadsAtOnce) {
  ASSERT_EQ(Open(), 1);
  CDriverClose(driver);
  const zol::testing::Resources before = zol::testing::MeasureResources();
  // call(i) on threads 0 and 1, started together.
  auto both = [&](auto call) {
    std::atomic<int> ready{0};
    std::vector<int32_t> results(2, 0);
    std::vector<std::thread> threads;
    for (int i = 0; i < 2; ++i) {
      threads.emplace_back([&, i] {
        ready.fetch_add(1);
        while (ready.load() < 2) Sleep(0);
        results[i] = call(i);
      });
    }
    for (std::thread& thread : threads) thread.join();
    return results[0] + results[1];
  };
  auto close = [&](int) {
    CDriverClose(driver);
    return int32_t{0};
  };
  int opened = 0;
  for (int round = 0; round < 10; ++round) {
    const int32_t opens = both([&](int) { return Open(); });
    EXPECT_EQ(opens, 1) << "round " << round;
    opened += opens;
    both(close);
    opened += both([&](int i) { return i == round % 2 ? Open() : close(i); });
    both(close);
  }
  const std::string log = Log();
  size_t connects = 0, shutdowns = 0;
  for (size_t at = 0; (at = log.find("Connect(", at)) != std::string::npos; ++at) ++connects;
  for (size_t at = 0; (at = log.find("Shutdown", at)) != std::string::npos; ++at) ++shutdowns;
  EXPECT_EQ(connects, static_cast<size_t>(opened) + 1);
  EXPECT_EQ(shutdowns, connects);
  const zol::testing::Resources after = zol::testing::MeasureResources();
  std::printf("[ resources ] before: %s; after: %s\n", zol::testing::Describe(before).c_str(),
              zol::testing::Describe(after).c_str());
  EXPECT_LE(after.handles, before.handles + 2);
  EXPECT_GE(after.handles + 2, before.handles) << "a handle was closed that was not the driver's";
  EXPECT_LE(after.threads, before.threads);
}

}  // namespace
