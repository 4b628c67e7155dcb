// Keystroke injection through the system's input functions.
#pragma once

#include "input/key_injector.h"

namespace zol::win32 {

// KeyWordForChar asks VkKeyScanA (the calling thread's keyboard layout); VirtualKey calls
// keybd_event; ScanCode sends one keyboard INPUT through SendInput. Results are not checked:
// a keystroke the system refuses is lost.
class Win32KeyInjector : public KeyInjector {
 public:
  int16_t KeyWordForChar(char c) override;
  void VirtualKey(uint8_t vk, uint32_t flags) override;
  void ScanCode(uint16_t scan, uint32_t flags) override;
};

}  // namespace zol::win32
