// The worker thread's message loop, the waits of the host's thread, and command payloads.
#include <atomic>
#include <thread>

#include "driver_test_support.h"

namespace {

TEST_F(DriverTest, PollTicksRunAboutEveryHundredMilliseconds) {
  ASSERT_EQ(Open(), 1);
  Pump(1000);
  EXPECT_GE(control->PollTicks(), 3);
  EXPECT_LE(control->PollTicks(), 12);
}

TEST_F(DriverTest, PollTicksKeepTheirPaceWhileTheHostWritesBackToBack) {
  ASSERT_EQ(Open(), 1);
  std::atomic<bool> stop{false};
  std::atomic<int> accepted{0};
  std::thread writer([&] {
    const uint8_t dots[1] = {0x42};
    while (!stop.load()) accepted += CDriverWriteTextCells(driver, dots, 1) != 0;
  });
  const int32_t before = control->PollTicks();
  Pump(1000);
  const int32_t ticks = control->PollTicks() - before;
  stop.store(true);
  writer.join();
  EXPECT_GE(ticks, 5) << "a tick must not wait for the queue to run empty";
  EXPECT_LE(ticks, 12);
  EXPECT_GT(accepted.load(), 100);
  EXPECT_TRUE(PumpUntil([&] { return control->LiveCommandPayloads() == 0; }));
}

TEST_F(DriverTest, AtMostAThousandCommandsWaitAndTheRestAreRefused) {
  ASSERT_EQ(Open(), 1);
  control->AtNextTick(ScriptedAction::kSleep, "", 1000);  // the worker thread held up
  Pump(300);
  const uint8_t dots[1] = {0x42};
  int accepted = 0;
  for (int i = 0; i < 1000; ++i) accepted += CDriverWriteTextCells(driver, dots, 1) != 0;
  EXPECT_EQ(accepted, 1000);
  EXPECT_EQ(CDriverWriteTextCells(driver, dots, 1), 0);
  EXPECT_TRUE(PumpUntil([&] { return control->LiveCommandPayloads() == 0; }));
  EXPECT_NE(CDriverWriteTextCells(driver, dots, 1), 0);
}

// Any program that learns the worker thread's id can post to it: no thread message is a
// command or carries a pointer the driver takes. Messages for windows of the thread are theirs.
TEST_F(DriverTest, ThreadMessagesOnlyWakeTheWorkerAndOnlyStopEndsTheLoop) {
  ASSERT_EQ(Open(), 1);
  RunAtNextTick(ScriptedAction::kCreateWindow);
  HWND workerWindow = control->WorkerWindow();
  ASSERT_NE(workerWindow, nullptr);
  const DWORD worker = control->CallThread();

  // The numbers that once were commands (stop, disconnect, suspend, writes with a payload to
  // free), with forged pointers; a timer message with no timer behind it; a quit.
  for (UINT message = 1026; message <= 1034; ++message)
    PostThreadMessageA(worker, message, static_cast<WPARAM>(0xDEAD0000u + message), 3);
  PostThreadMessageA(worker, WM_TIMER, 0xDEAD, 0);
  PostThreadMessageA(worker, WM_QUIT, 0, 0);
  // Addressed to a window of the thread, the same numbers are that window's messages.
  PostMessageA(workerWindow, 1026 + 5, 0, 3);
  PostMessageA(workerWindow, WM_TIMER, 0, 0);
  EXPECT_TRUE(WaitUntil([&] { return control->WorkerWindowMessages(WM_TIMER) == 1; }));
  EXPECT_EQ(control->WorkerWindowMessages(1031), 1);
  Pump(300);
  const uint8_t dots[1] = {0x42};
  EXPECT_NE(CDriverWriteTextCells(driver, dots, 1), 0);
  EXPECT_TRUE(WaitUntil([&] { return Log() == "Connect(COM1);WriteText(1:42)"; }));
  EXPECT_TRUE(control->CallsOnOneThread());
  EXPECT_EQ(control->LiveCommandPayloads(), 0);
}

TEST_F(DriverTest, AQuitMessageLeftWhenTheLoopEndsIsNotTakenForAPayload) {
  ASSERT_EQ(Open(), 1);
  control->SetDelays(0, 0, 500, 0);
  const DWORD worker = control->CallThread();
  std::thread quitter([worker] {
    Sleep(200);
    PostThreadMessageA(worker, WM_QUIT, 0x1234, 0);
  });
  CDriverClose(driver);
  quitter.join();
  EXPECT_EQ(Log(), "Connect(COM1);Disconnect;Shutdown");
}

TEST_F(DriverTest, OpenSuspendAndCloseAnswerSentMessagesWhileTheyWait) {
  control->SetDelays(1000, 1000, 1000, 0);
  EXPECT_TRUE(SentMessageHandledDuring([&] { ASSERT_EQ(Open(), 1); }));
  EXPECT_TRUE(SentMessageHandledDuring([&] { CDriverSetSuspended(driver, 1); }));
  EXPECT_TRUE(SentMessageHandledDuring([&] { CDriverClose(driver); }));
  EXPECT_EQ(Log(), "Connect(COM1);Suspend(1);Disconnect;Shutdown");
}

TEST_F(DriverTest, AQuitMessageTakenWhileWaitingIsPostedAgain) {
  ASSERT_EQ(Open(), 1);
  control->SetDelays(0, 1000, 0, 0);
  PostQuitMessage(7);
  SentMessageHandledDuring([&] { CDriverSetSuspended(driver, 1); });
  MSG message;
  ASSERT_TRUE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(message.wParam, 7u);
}

TEST_F(DriverTest, AWaiterResumesOnlyOnceItsOwnCommandHasRun) {
  ASSERT_EQ(Open(), 1);
  control->SetDelays(0, 300, 0, 500);
  const uint8_t dots[1] = {1};
  EXPECT_NE(CDriverWriteTextCells(driver, dots, 1), 0);
  EXPECT_EQ(CDriverSetSuspended(driver, 1), 1);
  EXPECT_EQ(Log(), "Connect(COM1);WriteText(1:01);Suspend(1)");
}

TEST_F(DriverTest, PayloadsAreFreedAlsoWhenQueuedBehindStopOrRefused) {
  ASSERT_EQ(Open(), 1);
  control->SetDelays(0, 0, 0, 2);
  std::atomic<bool> closed{false};
  std::atomic<int> accepted{0};
  std::thread writer([&] {
    const uint8_t dots[4] = {1, 2, 3, 4};
    while (!closed.load()) {
      accepted += CDriverWriteTextCells(driver, dots, 4) != 0;
      Sleep(1);
    }
  });
  Pump(300);
  CDriverClose(driver);
  Sleep(50);  // writes keep coming after Close
  closed.store(true);
  writer.join();
  EXPECT_GT(accepted.load(), 0);
  EXPECT_EQ(control->LiveCommandPayloads(), 0);
  const std::string log = Log();
  EXPECT_EQ(log.find("unterminated"), std::string::npos);
  // Writes queued before CMD_STOP ran; none ran after the device side was shut down.
  EXPECT_NE(log.find(";Disconnect;"), std::string::npos);
  EXPECT_EQ(log.substr(log.size() - std::string(";Shutdown").size()), ";Shutdown");
}

TEST_F(DriverTest, AWorkerThreadLateForOpenIsStoppedBeforeAnotherStarts) {
  // Ready only after 11 s: Open gives up at 5 s, waits 5 s more for the thread to end, and keeps
  // it aside; the next Open waits for it before it starts a new one.
  control->SetWorkerStartDelay(11000);
  const DWORD start = GetTickCount();
  EXPECT_EQ(Open(), 0);
  EXPECT_GE(GetTickCount() - start, 9000u);
  control->SetWorkerStartDelay(0);
  EXPECT_EQ(Open(), 1);
  EXPECT_GE(GetTickCount() - start, 10500u);
  EXPECT_EQ(Log(), "Connect(COM1)");
}

}  // namespace
