// Keystroke injection into the system, as the input translation needs it.
#pragma once

#include <cstdint>

namespace zol {

// The Windows build calls VkKeyScanExW, keybd_event and SendInput; tests record the calls.
class KeyInjector {
 public:
  virtual ~KeyInjector() = default;
  // Key word for a character under the keyboard layout of the window the keystrokes go to:
  // virtual key in the low byte, 0x100 Shift, 0x200 Ctrl, 0x400 Alt (other high bits are shift
  // states of the layout's own); -1 when no key produces it.
  virtual int16_t KeyWordForChar(char16_t character) = 0;
  // One virtual-key press (flags 0) or release (flags 2, KEYEVENTF_KEYUP), scan code 0.
  virtual void VirtualKey(uint8_t vk, uint32_t flags) = 0;
  // One keyboard input given by scan code: virtual key 0, flags as given (8 = scan code).
  virtual void ScanCode(uint16_t scan, uint32_t flags) = 0;
  // Types one character by its UTF-16 code whatever the layout: a press and a release.
  virtual void UnicodeCharacter(char16_t character) = 0;
};

}  // namespace zol
