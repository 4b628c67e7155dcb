// zolhost's side of the driver interface: loads the driver DLL, opens the display with itself
// as the host callback object, runs commands and prints what the driver reports.
//
// Threads: everything here runs on the main thread, which called Open and so receives the key
// events inside its message dispatch. OnDeviceData comes on the driver's worker thread; it only
// copies the record and posts it to a message-only window of the main thread, which prints it.
#ifndef ZOL_TOOLS_ZOLHOST_HOST_SESSION_H
#define ZOL_TOOLS_ZOLHOST_HOST_SESSION_H

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "call_watchdog.h"
#include "commands.h"
#include "zol/braille_driver.h"

namespace zol::host {

struct SessionOptions {
  std::string driverPath;  // the DLL to load
  std::string port;        // handed to Open; the driver searches USB HID first
  std::string text1;       // the two texts Open keeps and GetParameter1/2 hand back
  std::string text2;
};

class HostSession : public IBrailleHost {
 public:
  // quitEvent: signalled on Ctrl+C; it cuts every wait short.
  HostSession(SessionOptions options, CallWatchdog& watchdog, HANDLE quitEvent);
  HostSession(const HostSession&) = delete;
  HostSession& operator=(const HostSession&) = delete;

  // Loads the driver and asks it for its interface.
  bool Load(std::string* error);
  // Opens the display on the port (the options' port when port is null).
  bool Open(const std::string* port, std::string* error);
  // Closes the display if it is open.
  void Close();
  // Runs one command (not quit). On failure *error says why in plain words.
  bool Run(const Command& command, std::string* error);

  // Dispatches the messages waiting now (key events and keyboard records get printed).
  void PumpPending();
  // Dispatches messages until `ready` is signalled or Ctrl+C is pressed.
  void WaitForInput(HANDLE ready);
  bool QuitRequested() const;

  // IBrailleHost: called by the driver.
  int32_t OnKeyEvent(IBrailleDriver* driver, const char* name, int32_t value) override;
  int32_t OnDeviceData(IBrailleDriver* driver, const uint8_t* data, int32_t length) override;

 private:
  struct KeyEvent {
    std::string name;
    int32_t value = 0;
    DWORD threadId = 0;
  };

  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  bool CreateMessageWindow();
  void ReportKey(KeyEvent event);
  void ReportDeviceData(uint64_t packed, LPARAM info);
  void ReportLostRecords();
  bool PumpUntil(uint32_t ms, const std::function<bool()>& done);
  bool ClaimKey(const Command& expected);

  bool RequireOpen(std::string* error) const;
  bool CellCount(bool withStatusCells, size_t* count, std::string* error);
  bool Write(bool allCells, std::vector<uint8_t> cells, std::string* error);
  bool SetSuspended(bool suspend, std::string* error);
  bool ExpectKey(const Command& command, std::string* error);
  void PrintInfo();

  SessionOptions options_;
  CallWatchdog& watchdog_;
  HANDLE quitEvent_;
  DWORD hostThreadId_;
  HWND window_ = nullptr;
  IBrailleDriver* driver_ = nullptr;
  bool open_ = false;
  std::deque<KeyEvent> unclaimedKeys_;  // key events no expect-key has taken yet
  std::atomic<uint32_t> lostRecords_{0};
};

}  // namespace zol::host

#endif  // ZOL_TOOLS_ZOLHOST_HOST_SESSION_H
