// Key events travel from the worker thread to the host's thread through the hidden window.
#include <atomic>
#include <string>
#include <thread>

#include "driver_test_support.h"

namespace {

class KeyEventTest : public DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    ASSERT_EQ(Open(), 1);
  }
  // Posts the keys from one tick of the worker thread without this thread taking any of them.
  void PostKeys(std::initializer_list<std::pair<const char*, int32_t>> keys) {
    for (const auto& key : keys)
      control->AtNextTick(ScriptedAction::kPostKey, key.first, key.second);
    ASSERT_TRUE(WaitUntil([&] { return control->PendingActions() == 0; }));
  }
  bool AllSlotsFree() { return control->FreeKeyNameSlots() == 64; }
};

TEST_F(KeyEventTest, EveryEventKeepsItsOwnNameAndArrivesInOrderOnTheOpeningThread) {
  PostKeys({{"F1", 0}, {"qwerty:abc", 0}, {"qwerty:xyz", 0}, {"Routing", 7}, {"Routing2", -2}});
  ASSERT_TRUE(PumpUntil([&] { return KeyCount() == 5; }));
  const char* names[] = {"F1", "qwerty:abc", "qwerty:xyz", "Routing", "Routing2"};
  const int32_t values[] = {0, 0, 0, 7, -2};
  for (int i = 0; i < 5; ++i) {
    EXPECT_STREQ(CHostKeyName(host, i), names[i]);
    EXPECT_EQ(CHostKeyValue(host, i), values[i]);
    EXPECT_EQ(CHostKeyThread(host, i), GetCurrentThreadId());
    EXPECT_EQ(CHostKeyDriver(host, i), driver);
  }
  EXPECT_TRUE(AllSlotsFree());
}

TEST_F(KeyEventTest, EmptyNamesAndEventsWithoutAHostAreDropped) {
  PostKeys({{"", 0}});
  EXPECT_EQ(CDriverSetHost(driver, nullptr), host);
  PostKeys({{"F2", 0}});
  Pump(300);
  EXPECT_EQ(KeyCount(), 0);
  EXPECT_EQ(CDriverSetHost(driver, host), nullptr);
  PostKeys({{"F3", 0}});
  ASSERT_TRUE(PumpUntil([&] { return KeyCount() == 1; }));
  EXPECT_STREQ(CHostKeyName(host, 0), "F3");
  EXPECT_TRUE(AllSlotsFree());
}

TEST_F(KeyEventTest, AFullPoolDropsTheNewestEvents) {
  for (int i = 0; i < 70; ++i) {
    control->AtNextTick(ScriptedAction::kPostKey, ("K" + std::to_string(i)).c_str(), i);
  }
  ASSERT_TRUE(WaitUntil([&] { return control->PendingActions() == 0; }));
  ASSERT_TRUE(PumpUntil([&] { return KeyCount() == 64; }));
  Pump(200);
  EXPECT_EQ(KeyCount(), 64);
  EXPECT_STREQ(CHostKeyName(host, 63), "K63");
  EXPECT_TRUE(AllSlotsFree());
}

TEST_F(KeyEventTest, EventsQueuedForADestroyedWindowAreFreedAndTheNextWindowWorks) {
  PostKeys({{"F4", 0}, {"qwerty:lost", 0}});
  EXPECT_EQ(CDriverSetSuspended(driver, 1), 1);
  PostKeys({{"F10", 0}});  // no window to post to
  Pump(200);
  EXPECT_EQ(KeyCount(), 0);
  EXPECT_TRUE(AllSlotsFree());
  EXPECT_EQ(CDriverSetSuspended(driver, 0), 1);
  PostKeys({{"F5", 0}});
  ASSERT_TRUE(PumpUntil([&] { return KeyCount() == 1; }));
  EXPECT_STREQ(CHostKeyName(host, 0), "F5");
}

TEST_F(KeyEventTest, EventsQueuedAtCloseAreFreed) {
  PostKeys({{"F6", 0}, {"F7", 0}});
  CDriverClose(driver);
  Pump(100);
  EXPECT_EQ(KeyCount(), 0);
  EXPECT_TRUE(AllSlotsFree());
}

TEST_F(KeyEventTest, AKeyEventMessageForAnotherWindowIsNotDelivered) {
  HWND other = CreateWindowExA(0, "ZOL", nullptr, 0, 0, 0, 0, 0, nullptr, nullptr, module, nullptr);
  ASSERT_NE(other, nullptr);
  static const char name[] = "F8";
  EXPECT_EQ(SendMessageA(other, kKeyEventMessage, reinterpret_cast<WPARAM>(name), 0), 0);
  DestroyWindow(other);
  // A key event message that the driver did not post is consumed without a call.
  EXPECT_EQ(SendMessageA(FindHiddenWindow(GetCurrentThreadId()), kKeyEventMessage,
                         reinterpret_cast<WPARAM>(name), 0),
            0);
  PostKeys({{"F9", 0}});
  ASSERT_TRUE(PumpUntil([&] { return KeyCount() == 1; }));
  EXPECT_STREQ(CHostKeyName(host, 0), "F9");
}

// Any program can find a message-only window by its class name and send it messages: none of
// these ends the hidden window or the session (the driver's own requests are checked against
// what it asked for).
TEST_F(KeyEventTest, MessagesFromAnotherThreadNeitherEndTheWindowNorTheSession) {
  HWND window = FindHiddenWindow(GetCurrentThreadId());
  ASSERT_NE(window, nullptr);
  for (UINT message : {static_cast<UINT>(WM_CLOSE), static_cast<UINT>(WM_NCDESTROY),
                       static_cast<UINT>(WM_APP + 0x5A4D), static_cast<UINT>(WM_APP + 0x5A4E)}) {
    std::atomic<bool> answered{false};
    std::thread sender([&] {
      DWORD_PTR result = 0;
      SendMessageTimeoutA(window, message, 0, 0, SMTO_NORMAL, 5000, &result);
      answered.store(true);
    });
    EXPECT_TRUE(PumpUntil([&] { return answered.load(); }));
    sender.join();
    EXPECT_EQ(FindHiddenWindow(GetCurrentThreadId()), window) << message;
  }
  PostKeys({{"F9", 0}});
  ASSERT_TRUE(PumpUntil([&] { return KeyCount() == 1; }));
  EXPECT_EQ(Log(), "Connect(COM1)");
}

}  // namespace
