// Keystroke injection through the system's input functions.
#pragma once

#include "input/key_injector.h"

namespace zol::win32 {

// KeyWordForChar asks VkKeyScanExW with the keyboard layout of the thread that owns the
// foreground window (the calling thread's when there is none); VirtualKey calls keybd_event;
// ScanCode sends one keyboard INPUT and UnicodeCharacter a press and a release through
// SendInput. Results are not checked: a keystroke the system refuses is lost (the system does
// not say when it refuses input to a window of a higher integrity level).
class Win32KeyInjector : public KeyInjector {
 public:
  int16_t KeyWordForChar(char16_t character) override;
  void VirtualKey(uint8_t vk, uint32_t flags) override;
  void ScanCode(uint16_t scan, uint32_t flags) override;
  void UnicodeCharacter(char16_t character) override;
};

}  // namespace zol::win32
