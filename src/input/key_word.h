// Key words and the virtual keys and flags that keystroke injection uses.
#pragma once

#include <cstdint>

namespace zol {

// A key word is the 16-bit keystroke description of VkKeyScanExW: the virtual key in the low
// byte and the modifiers to hold in the high byte. SendKeyWord ignores other high-byte bits.
inline constexpr uint16_t kKeyWordShift = 0x100;
inline constexpr uint16_t kKeyWordCtrl = 0x200;
inline constexpr uint16_t kKeyWordAlt = 0x400;

constexpr uint16_t KeyWord(uint8_t vk, uint16_t modifiers = 0) {
  return vk | modifiers;
}

inline constexpr uint8_t kVkShift = 0x10;
inline constexpr uint8_t kVkControl = 0x11;
inline constexpr uint8_t kVkMenu = 0x12;  // Alt

// Keystroke flags, with the values of the platform's KEYEVENTF_* bits.
inline constexpr uint32_t kKeyEventExtendedKey = 0x1;
inline constexpr uint32_t kKeyEventKeyUp = 0x2;
inline constexpr uint32_t kKeyEventScanCode = 0x8;

}  // namespace zol
