// Text <-> braille dot patterns for the host tools, through the 8-dot US computer braille table
// of liblouis (computer_braille_table.h). Platform-neutral.
//
// A dot pattern is one byte per cell: bit 0 = dot 1 ... bit 7 = dot 8, the order the driver
// takes from its host.
#ifndef ZOL_TOOLS_COMMON_BRAILLE_TEXT_H
#define ZOL_TOOLS_COMMON_BRAILLE_TEXT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zol {

// Dot pattern of one character. Characters of the braille patterns block (U+2800..U+28FF)
// stand for their own pattern; a character the table does not define shows as '?'.
uint8_t CharToDots(char32_t c);

// The printable character the table reads back from a dot pattern, or 0 when there is none
// (patterns that only control characters use).
char32_t DotsToChar(uint8_t dots);

// Code points of a text: UTF-8 when the whole text is valid UTF-8, otherwise Latin-1, one
// character per byte (so text from an 8-bit console or file is never lost).
std::u32string DecodeText(std::string_view text);

// One dot pattern per character of the text (decoded as DecodeText does).
std::vector<uint8_t> TextToDots(std::string_view text);

// The patterns cut to count cells or padded with blank cells up to count.
std::vector<uint8_t> FitToCells(std::vector<uint8_t> cells, size_t count);

// UTF-8 of the code point appended to out.
void AppendUtf8(std::string& out, char32_t c);

// The cells as Unicode braille (U+2800 + pattern), UTF-8 encoded.
std::string DotsToUnicodeBraille(const uint8_t* dots, size_t count);

// The cells read back as text, UTF-8 encoded; a cell without a character shows as its Unicode
// braille pattern.
std::string DotsToText(const uint8_t* dots, size_t count);

// Dot numbers of a pattern in ascending order ("1237"); "0" for a blank cell.
std::string DotNumbers(uint8_t dots);

// One pattern written as one or two hex digits, with or without a 0x prefix ("4b", "0x4B", "7").
// Returns false for anything else and leaves *dots alone.
bool ParseHexDots(std::string_view token, uint8_t* dots);

}  // namespace zol

#endif  // ZOL_TOOLS_COMMON_BRAILLE_TEXT_H
