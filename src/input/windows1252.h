// The Windows-1252 code page, in which the display's character codes name their characters.
#pragma once

#include <array>
#include <cstdint>

namespace zol {

// What Windows1252ToUtf16 answers for the five codes that name no character.
inline constexpr char16_t kNoCharacter = u'\uFFFF';

// The characters of codes 0x80 to 0x9F, 0 where the code names none. Every other code is the
// Unicode character of the same number (ASCII below, Latin-1 above).
inline constexpr std::array<char16_t, 32> kWindows1252Block80 = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,       // 0x88
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,  // 0x98
};

constexpr char16_t Windows1252ToUtf16(uint8_t code) {
  if (code < 0x80 || code >= 0xA0) return code;
  const char16_t character = kWindows1252Block80[code - 0x80];
  return character != 0 ? character : kNoCharacter;
}

}  // namespace zol
