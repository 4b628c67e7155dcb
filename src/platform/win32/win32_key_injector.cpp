#include "platform/win32/win32_key_injector.h"

#include <windows.h>

namespace zol::win32 {

int16_t Win32KeyInjector::KeyWordForChar(char c) {
  return VkKeyScanA(c);
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

}  // namespace zol::win32
