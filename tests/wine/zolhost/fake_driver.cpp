// A stand-in braille driver for zolhost's tests: the driver interface with a 40-cell display
// and 4 status cells that exists only in memory.
//
// - Open fails for the port "BUSY"; otherwise it posts the key events "F1" 0 and "shift KBD12" 0
//   to a window of the opening thread, which hands them to the host there, as a driver does.
// - Every call that reaches the display is written as one line to the file named by the
//   environment variable ZOL_FAKE_DRIVER_LOG ("WriteTextCells 40 13 11 ...", "ClearDisplay").
// - WriteTextCells posts the key "Routing" with the cell count as its value, and reports the
//   first three cells through OnDeviceData from a thread of its own.
// - ClearDisplay posts the key "SLDN" 0 after 200 ms.
// - WriteAllCells calls OnKeyEvent("WRONG", 0) from another thread, which a driver must never do,
//   and then posts "qwerty:" with Latin-1 text and a control character.
// - While suspended, the writes and the clear are refused (result 0).
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "testing/message_window.h"
#include "zol/braille_driver.h"

namespace {

constexpr int32_t kTextCells = 40;
constexpr int32_t kStatusCells = 4;
constexpr UINT_PTR kClearTimer = 1;
constexpr char kWindowClass[] = "ZolFakeDriver";

class FakeDriver : public IBrailleDriver {
 public:
  int32_t Open(const char* portName, IBrailleHost* host, const char* text1,
               const char* text2) override {
    const std::string port = portName != nullptr ? portName : "";
    Log("Open " + port + " " + (text1 ? text1 : "") + " " + (text2 ? text2 : ""));
    if (port == "BUSY") return 0;
    host_ = host;
    text1_ = text1 != nullptr ? text1 : "";
    text2_ = text2 != nullptr ? text2 : "";
    suspended_ = false;
    window_ = zol::testing::CreateMessageWindow(kWindowClass, WindowProc);
    PostKey("F1", 0);
    PostKey("shift KBD12", 0);
    return 1;
  }

  void Close() override {
    Log("Close");
    if (window_ != nullptr) DestroyWindow(window_);
    window_ = nullptr;
  }

  IBrailleHost* SetHost(IBrailleHost* host) override {
    IBrailleHost* previous = host_;
    host_ = host;
    return previous;
  }

  int32_t GetParameter1(char* buffer, int32_t length) override {
    return Copy(text1_, buffer, length);
  }
  int32_t GetParameter2(char* buffer, int32_t length) override {
    return Copy(text2_, buffer, length);
  }

  int32_t WriteTextCells(const uint8_t* dots, int32_t count) override {
    if (suspended_ || dots == nullptr || count <= 0) return 0;
    LogCells("WriteTextCells", dots, count);
    PostKey("Routing", count);
    uint8_t record[3] = {dots[0], count > 1 ? dots[1] : uint8_t{0},
                         count > 2 ? dots[2] : uint8_t{0}};
    std::thread([this, record] { host_->OnDeviceData(this, record, 3); }).join();
    return 1;
  }

  int32_t WriteAllCells(const uint8_t* dots, int32_t count) override {
    if (suspended_ || dots == nullptr || count <= 0) return 0;
    LogCells("WriteAllCells", dots, count);
    std::thread([this] { host_->OnKeyEvent(this, "WRONG", 0); }).join();
    PostKey("qwerty:caf\xE9\x07", 0);
    return 1;
  }

  int32_t ClearDisplay() override {
    if (suspended_) return 0;
    Log("ClearDisplay");
    SetTimer(window_, kClearTimer, 200, nullptr);
    return 1;
  }

  int32_t SetSuspended(int32_t suspend) override {
    Log("SetSuspended " + std::to_string(suspend));
    suspended_ = suspend != 0;
    return 1;
  }

  int32_t GetTextCellCount() override { return kTextCells; }
  int32_t GetStatusCellCount() override { return kStatusCells; }
  int32_t GetTotalCellCount() override { return kTextCells + kStatusCells; }
  int32_t GetInfoValue() override { return 768; }

  int32_t GetDriverIdentity(char* nameBuffer, int32_t nameLength, ZolGuid* id) override {
    if (nameBuffer == nullptr || id == nullptr || nameLength < 5) return 0;
    std::memcpy(nameBuffer, "FAKE", 5);
    *id = ZolGuid{0x01234567, 0x89AB, 0xCDEF, {1, 2, 3, 4, 5, 6, 7, 8}};
    return 1;
  }

  int32_t Reserved5(void*, int32_t) override { return 0; }
  int32_t Reserved7() override { return 0; }
  int32_t Reserved8() override { return 0; }
  int32_t Reserved9() override { return 0; }
  int32_t Reserved10(void*) override { return 0; }
  int32_t Reserved14(void*, int32_t) override { return 0; }
  int32_t Reserved15() override { return 0; }
  void Reserved17() override {}
  int32_t Reserved19() override { return 0; }
  int32_t Reserved22() override { return 0; }
  int32_t Reserved23(int32_t, int32_t, int32_t) override { return 0; }
  int32_t Reserved24() override { return 0; }
  int32_t Reserved25(int32_t, uint8_t) override { return 0; }
  int32_t Reserved26(void*, int32_t, int32_t) override { return 0; }
  int32_t Reserved27(void*) override { return 0; }
  int32_t Reserved28(int32_t) override { return 0; }
  int32_t Reserved29() override { return 0; }
  void Reserved30(int32_t) override {}
  int32_t Reserved31() override { return 0; }
  void Reserved32(int32_t) override {}
  int32_t Reserved33() override { return 0; }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  void PostKey(const char* name, int32_t value) {
    PostMessageA(window_, ZOL_KEY_EVENT_MESSAGE, reinterpret_cast<WPARAM>(name), value);
  }

  static int32_t Copy(const std::string& text, char* buffer, int32_t length) {
    if (buffer == nullptr || length < 1) return 0;
    const size_t copied = text.size() < static_cast<size_t>(length) ? text.size() : length - 1;
    std::memcpy(buffer, text.data(), copied);
    buffer[copied] = '\0';
    return static_cast<int32_t>(copied);
  }

  void LogCells(const char* call, const uint8_t* dots, int32_t count) {
    std::string line = std::string(call) + " " + std::to_string(count);
    for (int32_t i = 0; i < count; ++i) {
      char byte[4];
      std::snprintf(byte, sizeof byte, " %02X", dots[i]);
      line += byte;
    }
    Log(line);
  }

  void Log(const std::string& line) {
    const char* path = std::getenv("ZOL_FAKE_DRIVER_LOG");
    if (path == nullptr) return;
    std::lock_guard<std::mutex> hold(logLock_);
    if (FILE* file = std::fopen(path, "ab")) {
      std::fprintf(file, "%s\n", line.c_str());
      std::fclose(file);
    }
  }

  IBrailleHost* host_ = nullptr;
  HWND window_ = nullptr;
  bool suspended_ = false;
  std::string text1_;
  std::string text2_;
  std::mutex logLock_;
};

FakeDriver driver;

LRESULT CALLBACK FakeDriver::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == ZOL_KEY_EVENT_MESSAGE) {
    if (driver.host_ != nullptr) {
      driver.host_->OnKeyEvent(&driver, reinterpret_cast<const char*>(wParam),
                               static_cast<int32_t>(lParam));
    }
    return 0;
  }
  if (message == WM_TIMER && wParam == kClearTimer) {
    KillTimer(window, kClearTimer);
    driver.PostKey("SLDN", 0);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

extern "C" __declspec(dllexport) IBrailleDriver* GetBrailleInterface(IBrailleDriver** out) {
  *out = &driver;
  return &driver;
}
