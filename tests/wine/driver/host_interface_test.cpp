// The driver as a host sees it through the slots of its table of operations.
#include <cstring>
#include <string>
#include <thread>

#include "driver_test_support.h"

namespace {

const uint8_t kGuidBytes[16] = {0x90, 0x4E, 0x1C, 0x7A, 0x3D, 0x2B, 0x58, 0x4F,
                                0x9E, 0x61, 0x0C, 0x8D, 0x5A, 0x7B, 0x3F, 0x24};

TEST_F(DriverTest, EntryPointHandsOutTheSameObjectAndStoresIt) {
  void* first = nullptr;
  void* second = nullptr;
  EXPECT_EQ(CDriverGet(module, &first), first);
  EXPECT_EQ(CDriverGet(module, &second), first);
  EXPECT_EQ(second, first);
  EXPECT_EQ(first, driver);
}

TEST_F(DriverTest, TheObjectsTableIsTheHostsSlotsAndTwoOfItsOwn) {
  EXPECT_EQ(control->SlotOfOperation(0), 0);
  EXPECT_EQ(control->SlotOfOperation(34), 34);
  EXPECT_EQ(control->SlotOfOperation(35), 35);
  EXPECT_EQ(control->SlotOfOperation(36), 36);
}

TEST_F(DriverTest, BeforeOpenOnlyQueriesWork) {
  const DWORD start = GetTickCount();
  CDriverClose(driver);
  EXPECT_LT(GetTickCount() - start, 1000u);
  const uint8_t dots[2] = {1, 2};
  EXPECT_EQ(CDriverWriteTextCells(driver, dots, 2), 0);
  EXPECT_EQ(CDriverWriteAllCells(driver, dots, 2), 0);
  EXPECT_EQ(CDriverClearDisplay(driver), 0);
  EXPECT_EQ(CDriverGetInfoValue(driver), 768);
  EXPECT_EQ(CDriverGetTextCellCount(driver), 0);
  EXPECT_EQ(CDriverGetTotalCellCount(driver), 0);
  EXPECT_EQ(CDriverSetSuspended(driver, 0), 1);
  EXPECT_EQ(Log(), "");
  EXPECT_EQ(control->LiveCommandPayloads(), 0);
}

TEST_F(DriverTest, ReservedSlotsDoNothingAndReturnZero) {
  EXPECT_EQ(CDriverCallReservedSlots(driver), 0);
  ASSERT_EQ(Open(), 1);
  EXPECT_EQ(CDriverCallReservedSlots(driver), 0);
  Pump(200);
  EXPECT_EQ(Log(), "Connect(COM1)");
}

TEST_F(DriverTest, IdentityIsTheNameAndGuidRecordWhenTheBufferHoldsThem) {
  char name[4];
  uint8_t guid[16];
  std::memset(guid, 0xEE, sizeof guid);
  EXPECT_EQ(CDriverGetDriverIdentity(driver, name, 4, guid), 1);
  EXPECT_STREQ(name, "ZOL");
  EXPECT_EQ(std::memcmp(guid, kGuidBytes, 16), 0);

  char shortName[3] = {'x', 'x', 'x'};
  uint8_t untouched[16];
  std::memset(untouched, 0xEE, sizeof untouched);
  EXPECT_EQ(CDriverGetDriverIdentity(driver, shortName, 3, untouched), 0);
  EXPECT_EQ(std::memcmp(shortName, "xxx", 3), 0);
  EXPECT_EQ(CDriverGetDriverIdentity(driver, nullptr, 80, untouched), 0);
  EXPECT_EQ(untouched[0], 0xEE);
  EXPECT_EQ(CDriverGetDriverIdentity(driver, name, 80, nullptr), 0);
}

TEST_F(DriverTest, OpenConnectsOnTheWorkerThreadAndKeepsHostAndTexts) {
  control->ScriptConnect(1, 40, 2);
  ASSERT_EQ(Open("com3"), 1);
  EXPECT_EQ(Log(), "Connect(com3)");
  EXPECT_NE(control->CallThread(), GetCurrentThreadId());
  EXPECT_EQ(control->ConnectThreadPriority(), THREAD_PRIORITY_ABOVE_NORMAL);
  EXPECT_EQ(CDriverGetTextCellCount(driver), 40);
  EXPECT_EQ(CDriverGetStatusCellCount(driver), 2);
  EXPECT_EQ(CDriverGetTotalCellCount(driver), 42);
  EXPECT_EQ(CDriverGetInfoValue(driver), 768);
  EXPECT_EQ(CDriverSetHost(driver, host), host);

  char buffer[8];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(CDriverGetParameter1(driver, buffer, 4), 3);
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(buffer[4], 'x');
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(CDriverGetParameter1(driver, buffer, 0), 0);
  EXPECT_EQ(CDriverGetParameter1(driver, buffer, -5), 0);
  EXPECT_EQ(buffer[0], 'x');
  char whole[64];
  EXPECT_EQ(CDriverGetParameter2(driver, whole, sizeof whole), 11);
  EXPECT_STREQ(whole, "second text");
}

TEST_F(DriverTest, OpenCreatesTheHiddenWindowOnTheCallingThread) {
  ASSERT_EQ(Open(), 1);
  HWND window = FindHiddenWindow(GetCurrentThreadId());
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(GetWindowLongA(window, GWL_STYLE) & (WS_DISABLED | WS_VISIBLE), WS_DISABLED);
  EXPECT_EQ(GetPropA(window, "AfxOldWndProc423"), nullptr);
  WNDCLASSEXA windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  ASSERT_TRUE(GetClassInfoExA(module, "ZOL", &windowClass));
  EXPECT_EQ(windowClass.style, static_cast<UINT>(CS_HREDRAW | CS_VREDRAW));
  EXPECT_EQ(windowClass.hbrBackground, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1));
  EXPECT_EQ(windowClass.cbWndExtra, 0);
}

TEST_F(DriverTest, EmptyOrNullPortNameConnectsWithAnEmptyName) {
  ASSERT_EQ(CDriverOpen(driver, "", host, nullptr, nullptr), 1);
  char buffer[4] = {'x'};
  EXPECT_EQ(CDriverGetParameter1(driver, buffer, sizeof buffer), 0);
  CDriverClose(driver);
  ASSERT_EQ(CDriverOpen(driver, nullptr, host, "a", "b"), 1);
  EXPECT_EQ(Log(), "Connect();Disconnect;Shutdown;Connect()");
}

TEST_F(DriverTest, OpenWithoutADisplayFailsAndStopsTheWorkerThread) {
  control->ScriptConnect(0, 0, 0);
  EXPECT_EQ(Open(), 0);
  EXPECT_EQ(Log(), "Connect(COM1);Shutdown");
  EXPECT_EQ(FindHiddenWindow(GetCurrentThreadId()), nullptr);
  const uint8_t dots[1] = {1};
  EXPECT_EQ(CDriverWriteTextCells(driver, dots, 1), 0);
  CDriverClose(driver);
  EXPECT_EQ(Log(), "Connect(COM1);Shutdown");
  EXPECT_EQ(control->LiveCommandPayloads(), 0);
}

TEST_F(DriverTest, OpenFailsWhenThisConnectFailsEvenWithCountsFromAnEarlierOne) {
  ASSERT_EQ(Open(), 1);
  CDriverClose(driver);
  control->ScriptConnect(0, 0, 0);  // the counts stay at 40 and 0
  EXPECT_EQ(Open(), 0);
  EXPECT_EQ(CDriverGetTextCellCount(driver), 40);
}

TEST_F(DriverTest, SecondOpenIsRefusedAndLeavesTheSessionRunning) {
  ASSERT_EQ(Open(), 1);
  EXPECT_EQ(Open("COM2"), 0);
  const uint8_t dots[1] = {0x11};
  EXPECT_NE(CDriverWriteTextCells(driver, dots, 1), 0);
  PumpUntil([&] { return Log().find("WriteText") != std::string::npos; });
  EXPECT_EQ(Log(), "Connect(COM1);WriteText(1:11)");
  EXPECT_NE(FindHiddenWindow(GetCurrentThreadId()), nullptr);
}

TEST_F(DriverTest, CloseDisconnectsEndsTheWorkerThreadAndKeepsTheCounts) {
  control->ScriptConnect(1, 80, 0);
  ASSERT_EQ(Open(), 1);
  const DWORD start = GetTickCount();
  CDriverClose(driver);
  EXPECT_LT(GetTickCount() - start, 2000u);  // CMD_STOP ends the thread long before 5000 ms
  EXPECT_EQ(Log(), "Connect(COM1);Disconnect;Shutdown");
  EXPECT_TRUE(control->CallsOnOneThread());
  EXPECT_EQ(FindHiddenWindow(GetCurrentThreadId()), nullptr);
  EXPECT_EQ(CDriverGetTextCellCount(driver), 80);
  EXPECT_EQ(CDriverClearDisplay(driver), 0);
  CDriverClose(driver);  // again: nothing left to do
  EXPECT_EQ(Log(), "Connect(COM1);Disconnect;Shutdown");
  EXPECT_EQ(Open(), 1);  // and the driver opens again
  EXPECT_NE(FindHiddenWindow(GetCurrentThreadId()), nullptr);
}

TEST_F(DriverTest, TheModuleStaysLoadedWhileTheWorkerThreadRuns) {
  ASSERT_EQ(Open(), 1);
  HMODULE loaded = module;
  ASSERT_TRUE(FreeLibrary(module));  // the host lets go without Close
  EXPECT_EQ(GetModuleHandleA("zol_scripted.dll"), loaded);
  const int32_t ticks = control->PollTicks();
  EXPECT_TRUE(WaitUntil([&] { return control->PollTicks() > ticks + 2; }));
  // Taken again, it is the same driver, still open.
  ASSERT_EQ(LoadLibraryA("zol_scripted.dll"), loaded);
  const uint8_t dots[1] = {0x33};
  EXPECT_NE(CDriverWriteTextCells(driver, dots, 1), 0);
  EXPECT_TRUE(PumpUntil([&] { return Log() == "Connect(COM1);WriteText(1:33)"; }));
}

TEST_F(DriverTest, UnloadingTakesTheWindowClassAlong) {
  ASSERT_EQ(Open(), 1);
  CDriverClose(driver);
  HMODULE loaded = module;
  ASSERT_TRUE(FreeLibrary(module));
  module = nullptr;
  ASSERT_TRUE(WaitUntil([] { return GetModuleHandleA("zol_scripted.dll") == nullptr; }));
  WNDCLASSEXA windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  EXPECT_FALSE(GetClassInfoExA(loaded, "ZOL", &windowClass));
  Load();
  EXPECT_EQ(Open(), 1);
  EXPECT_NE(FindHiddenWindow(GetCurrentThreadId()), nullptr);
}

// The host closes on another thread and unloads the module at once, while this thread (the
// one that opened) takes its messages or is busy. Returns whether the hidden window was still
// there when Close returned.
bool CloseOnAnotherThreadAndUnload(HMODULE loaded, void* session, bool takeMessages) {
  const DWORD opener = GetCurrentThreadId();
  bool windowLeft = true;
  HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::thread closer([&] {
    CDriverClose(session);
    windowLeft = FindHiddenWindow(opener) != nullptr;
    FreeLibrary(loaded);
    SetEvent(done);
  });
  if (takeMessages) {
    PumpUntil([&] { return WaitForSingleObject(done, 0) == WAIT_OBJECT_0; }, 10000);
  } else {
    WaitForSingleObject(done, 10000);
  }
  closer.join();
  CloseHandle(done);
  return windowLeft;
}

// Whatever may still reach this thread's windows: a broadcast, then the queue.
void BroadcastAndPump() {
  DWORD_PTR result = 0;
  SendMessageTimeoutA(HWND_BROADCAST, WM_SETTINGCHANGE, 0, 0, SMTO_ABORTIFHUNG, 2000, &result);
  Pump(300);
}

TEST_F(DriverTest, CloseOnAnotherThreadThenUnloadWhileTheOpenerTakesMessages) {
  ASSERT_EQ(Open(), 1);
  HMODULE loaded = module;
  module = nullptr;  // the closing thread gives it back
  EXPECT_FALSE(CloseOnAnotherThreadAndUnload(loaded, driver, true));
  EXPECT_TRUE(WaitUntil([] { return GetModuleHandleA("zol_scripted.dll") == nullptr; }));
  BroadcastAndPump();
  EXPECT_EQ(FindHiddenWindow(GetCurrentThreadId()), nullptr);
}

// The window's thread destroys it only once it takes messages again: the module stays loaded for
// good. A copy of it, so that the other tests of this process still unload theirs.
TEST_F(DriverTest, CloseOnAnotherThreadThenUnloadWhileTheOpenerIsBusy) {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(module, path, sizeof path);
  const std::string original = path;
  const std::string copy = original.substr(0, original.rfind('\\') + 1) + "zol_pinned_copy.dll";
  ASSERT_TRUE(CopyFileA(original.c_str(), copy.c_str(), FALSE));
  HMODULE loaded = LoadLibraryA(copy.c_str());
  ASSERT_NE(loaded, nullptr);
  void* session = CDriverGet(loaded, nullptr);
  ASSERT_EQ(CDriverOpen(session, "COM1", host, "", ""), 1);
  EXPECT_TRUE(CloseOnAnotherThreadAndUnload(loaded, session, false));
  EXPECT_NE(GetModuleHandleA(copy.c_str()), nullptr);
  BroadcastAndPump();
  EXPECT_EQ(FindHiddenWindow(GetCurrentThreadId()), nullptr);
}

TEST_F(DriverTest, WritesQueueACopyOfTheCellsAndReturnAtOnce) {
  ASSERT_EQ(Open(), 1);
  control->SetDelays(0, 0, 0, 300);
  uint8_t dots[3] = {0x01, 0x02, 0x03};
  const DWORD start = GetTickCount();
  EXPECT_NE(CDriverWriteTextCells(driver, dots, 3), 0);
  dots[0] = 0xFF;  // the host may reuse its buffer at once
  EXPECT_NE(CDriverWriteAllCells(driver, dots, 2), 0);
  EXPECT_NE(CDriverClearDisplay(driver), 0);
  EXPECT_LT(GetTickCount() - start, 250u);
  EXPECT_EQ(CDriverWriteTextCells(driver, dots, 0), 0);
  EXPECT_EQ(CDriverWriteAllCells(driver, dots, -1), 0);
  EXPECT_EQ(CDriverWriteTextCells(driver, nullptr, 3), 0);
  static uint8_t many[300];
  EXPECT_NE(CDriverWriteAllCells(driver, many, 300), 0);
  EXPECT_TRUE(PumpUntil([&] { return control->LiveCommandPayloads() == 0; }));
  EXPECT_EQ(Log(),
            "Connect(COM1);WriteText(3:010203);WriteAll(2:FF02);Clear;"
            "WriteAll(200:0000000000000000)");
}

TEST_F(DriverTest, SuspendClosesTheLinkRefusesWritesAndResumeReconnects) {
  ASSERT_EQ(Open(), 1);
  EXPECT_EQ(CDriverSetSuspended(driver, 0), 1);  // not suspended: nothing to do
  EXPECT_EQ(Log(), "Connect(COM1)");

  EXPECT_EQ(CDriverSetSuspended(driver, 7), 1);
  EXPECT_EQ(Log(), "Connect(COM1);Suspend(7)");
  EXPECT_EQ(FindHiddenWindow(GetCurrentThreadId()), nullptr);
  const uint8_t dots[1] = {1};
  EXPECT_EQ(CDriverWriteTextCells(driver, dots, 1), 0);
  EXPECT_EQ(CDriverWriteAllCells(driver, dots, 1), 0);
  EXPECT_EQ(CDriverClearDisplay(driver), 0);
  EXPECT_EQ(CDriverSetSuspended(driver, 7), 1);

  EXPECT_EQ(CDriverSetSuspended(driver, 0), 1);
  EXPECT_EQ(Log(), "Connect(COM1);Suspend(7);Suspend(0)");
  EXPECT_NE(FindHiddenWindow(GetCurrentThreadId()), nullptr);
  EXPECT_NE(CDriverClearDisplay(driver), 0);
}

TEST_F(DriverTest, TheWorkerThreadSuspendsTheDriverByItselfAndTheHostCanTakeItOver) {
  ASSERT_EQ(Open(), 1);
  const uint8_t dots[1] = {1};
  RunAtNextTick(ScriptedAction::kSelfSuspend);
  EXPECT_EQ(CDriverWriteTextCells(driver, dots, 1), 0);
  RunAtNextTick(ScriptedAction::kEndSelfSuspension);
  EXPECT_NE(CDriverWriteTextCells(driver, dots, 1), 0);

  // Suspended by the driver, then by the host: the host's suspension is never ended by the
  // driver, and only the host's resume reconnects.
  RunAtNextTick(ScriptedAction::kSelfSuspend);
  EXPECT_EQ(CDriverSetSuspended(driver, 1), 1);
  RunAtNextTick(ScriptedAction::kEndSelfSuspension);
  EXPECT_EQ(CDriverWriteTextCells(driver, dots, 1), 0);
  EXPECT_EQ(CDriverSetSuspended(driver, 0), 1);
  EXPECT_NE(CDriverWriteTextCells(driver, dots, 1), 0);
  EXPECT_TRUE(PumpUntil([&] {
    return Log() == "Connect(COM1);WriteText(1:01);Suspend(1);Suspend(0);WriteText(1:01)";
  }));
}

TEST_F(DriverTest, DeviceDataReachesTheHostOnTheWorkerThreadOnlyWithAHost) {
  ASSERT_EQ(Open(), 1);
  RunAtNextTick(ScriptedAction::kDeviceData, "\x01\x1D\x03");
  ASSERT_EQ(CHostDataCount(host), 1);
  EXPECT_EQ(CHostDataThread(host, 0), control->CallThread());
  EXPECT_EQ(CHostDataLength(host, 0), 3);
  EXPECT_EQ(std::memcmp(CHostDataBytes(host, 0), "\x01\x1D\x03", 3), 0);
  EXPECT_EQ(CDriverSetHost(driver, nullptr), host);
  RunAtNextTick(ScriptedAction::kDeviceData, "abc");
  EXPECT_EQ(CHostDataCount(host), 1);
}

}  // namespace
