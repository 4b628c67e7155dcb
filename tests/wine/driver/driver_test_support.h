// Shared fixture of the driver's Wine tests: the test DLL with its scripted device side, a host
// written in C, and message pumping on the test's thread (the host's thread, testing/).
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "c_host.h"
#include "gtest/gtest.h"
#include "scripted_control.h"
#include "testing/message_pump.h"

inline constexpr UINT kKeyEventMessage = 1025;

using zol::testing::Pump;
using zol::testing::PumpUntil;
using zol::testing::WaitUntil;

// The driver's hidden window among the message-only windows of thread, or null.
HWND FindHiddenWindow(DWORD thread);
// Runs call on this thread while another thread sends it a message 200 ms in; true when that
// message was handled before call returned.
bool SentMessageHandledDuring(const std::function<void()>& call);

class DriverTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::string Log();
  int32_t Open(const char* port = "COM1") {
    return CDriverOpen(driver, port, host, "abcdef", "second text");
  }
  // Loads the test DLL and finds its driver object and control surface.
  void Load();

  // Queues an action for the next poll tick and waits, without pumping, until it has run.
  void RunAtNextTick(ScriptedAction action, const char* text = "", int32_t value = 0);
  int KeyCount() { return CHostKeyCount(host); }

  HMODULE module = nullptr;  // one reference of this test; null once given back
  ScriptedControl* control = nullptr;
  void* driver = nullptr;
  CHost* host = nullptr;
};
