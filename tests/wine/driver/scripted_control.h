// Control surface of the scripted device side in the driver's test DLL, reached by the test
// program through the DLL's extra export ZolScriptedControl.
#pragma once

#include <windows.h>

#include <cstdint>

// Work the scripted device side does on the worker thread at the next poll tick, in the order
// queued.
enum class ScriptedAction : int32_t {
  kPostKey,            // HostLink::PostKeyEvent(text, value), from a buffer reused for every name
  kSelfSuspend,        // the device side suspends the driver itself (a lost serial display)
  kEndSelfSuspension,  // and ends that suspension when the display answers again
  kDeviceData,         // HostLink::DeviceData(text, 3)
  kSleep,              // holds the worker thread value ms
  kCreateWindow,       // creates a window on the worker thread (see WorkerWindow)
};

class ScriptedControl {
 public:
  // Forgets every call and script: connects answer 1 with 40 text and 0 status cells.
  virtual void Reset() = 0;
  // The answer of the following connects: the result and the counts they store.
  virtual void ScriptConnect(int32_t result, int32_t textCells, int32_t statusCells) = 0;
  // How long each kind of call holds the worker thread.
  virtual void SetDelays(uint32_t connectMs, uint32_t suspendMs, uint32_t disconnectMs,
                         uint32_t writeMs) = 0;
  virtual void AtNextTick(ScriptedAction action, const char* text, int32_t value) = 0;
  // Actions queued and not yet run.
  virtual int32_t PendingActions() = 0;

  // Every call but poll ticks, ';'-separated, as "Connect(COM3)", "WriteText(3:010203)",
  // "WriteAll(...)", "Clear", "Disconnect", "Suspend(1)", "Shutdown". A payload without its zero
  // byte after the cells shows as "WriteText(...)!unterminated". Returns the length.
  virtual int32_t CallLog(char* buffer, int32_t size) = 0;
  virtual int32_t PollTicks() = 0;
  // The thread of the last call, and whether every call came from that one thread.
  virtual DWORD CallThread() = 0;
  virtual bool CallsOnOneThread() = 0;
  // The priority of the thread that ran the last connect.
  virtual int32_t ConnectThreadPriority() = 0;
  // The window kCreateWindow made, and how many messages with this number reached it.
  virtual HWND WorkerWindow() = 0;
  virtual int32_t WorkerWindowMessages(UINT message) = 0;

  // Observations of the driver object.
  virtual int32_t LiveCommandPayloads() = 0;
  virtual int32_t FreeKeyNameSlots() = 0;
  virtual void SetWorkerStartDelay(uint32_t ms) = 0;
  // The slot of the driver object's table that holds operation 0 (Open), 34 (GetDriverIdentity),
  // 35 or 36 (its own two), as the compiler laid the table out.
  virtual int32_t SlotOfOperation(int32_t operation) = 0;
};

using ZolScriptedControlFn = ScriptedControl* (*)();
