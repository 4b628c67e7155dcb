#include "platform/win32/win32_key_injector.h"

#include <windows.h>

namespace zol::win32 {

int16_t Win32KeyInjector::KeyWordForChar(char16_t character) {
  // The keystrokes go to the foreground window, whose thread may type with another layout than
  // the worker thread (each thread of the system has its own).
  const DWORD foregroundThread = GetWindowThreadProcessId(GetForegroundWindow(), nullptr);
  return VkKeyScanExW(static_cast<WCHAR>(character), GetKeyboardLayout(foregroundThread));
}

void Win32KeyInjector::VirtualKey(uint8_t vk, uint32_t flags) {
  keybd_event(vk, 0, flags, 0);
}

void Win32KeyInjector::ScanCode(uint16_t scan, uint32_t flags) {
  INPUT input = {};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = 0;
  input.ki.wScan = scan;
  input.ki.dwFlags = flags;
  input.ki.time = 0;
  input.ki.dwExtraInfo = 0;
  SendInput(1, &input, sizeof(INPUT));
}

void Win32KeyInjector::UnicodeCharacter(char16_t character) {
  // One call for both, so that no other input comes between the press and the release.
  INPUT inputs[2] = {};
  for (INPUT& input : inputs) {
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = 0;
    input.ki.wScan = static_cast<WORD>(character);
    input.ki.dwFlags = KEYEVENTF_UNICODE;
  }
  inputs[1].ki.dwFlags |= KEYEVENTF_KEYUP;
  SendInput(2, inputs, sizeof(INPUT));
}

}  // namespace zol::win32
