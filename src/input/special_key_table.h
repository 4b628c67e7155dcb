// Keys of the display's special-key and braille command codes.
#pragma once

#include <array>
#include <cstdint>

#include "input/key_word.h"

namespace zol {

namespace detail {

constexpr std::array<uint16_t, 127> MakeSpecialKeyTable() {
  std::array<uint16_t, 127> table{};
  table[0] = KeyWord(0x0D);                   // Enter
  table[1] = KeyWord(0x26);                   // Up
  table[2] = KeyWord(0x28);                   // Down
  table[3] = KeyWord(0x27);                   // Right
  table[4] = KeyWord(0x25);                   // Left
  table[5] = KeyWord(0x2D);                   // Insert
  table[6] = KeyWord(0x24);                   // Home
  table[7] = KeyWord(0x2E);                   // Delete
  table[8] = KeyWord(0x23);                   // End
  table[9] = KeyWord(0x21);                   // Page Up
  table[10] = KeyWord(0x22);                  // Page Down
  table[11] = KeyWord(0x08);                  // Backspace
  table[12] = KeyWord(0x09);                  // Tab
  table[13] = KeyWord(0x1B);                  // Escape
  table[41] = KeyWord(0x73, kKeyWordAlt);     // Alt+F4
  table[53] = KeyWord(0x73, kKeyWordCtrl);    // Ctrl+F4
  table[126] = KeyWord(0x09, kKeyWordShift);  // Shift+Tab
  return table;
}

}  // namespace detail

// Command code (0 to 126) to key word; 0 where the code has no key. Codes of 127 and above
// have no key either.
inline constexpr std::array<uint16_t, 127> specialKeyTable = detail::MakeSpecialKeyTable();

}  // namespace zol
