#include "braille_text.h"

#include <algorithm>
#include <iterator>

#include "computer_braille_table.h"

namespace zol {
namespace {

constexpr char32_t kBraillePatternsFirst = 0x2800;
constexpr char32_t kBraillePatternsLast = 0x28FF;
constexpr char32_t kLastCodePoint = 0x10FFFF;

bool IsContinuationByte(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

// Decodes the UTF-8 sequence at text[i], moving i past it. Returns false for a malformed,
// overlong or surrogate sequence or one beyond U+10FFFF.
bool DecodeUtf8At(std::string_view text, size_t& i, char32_t& out) {
  const unsigned char lead = static_cast<unsigned char>(text[i]);
  size_t length;
  char32_t value;
  char32_t smallest;
  if (lead < 0x80) {
    out = lead;
    ++i;
    return true;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, value = lead & 0x1F, smallest = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, value = lead & 0x0F, smallest = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, value = lead & 0x07, smallest = 0x10000;
  } else {
    return false;
  }
  if (text.size() - i < length) return false;
  for (size_t k = 1; k < length; ++k) {
    const unsigned char byte = static_cast<unsigned char>(text[i + k]);
    if (!IsContinuationByte(byte)) return false;
    value = (value << 6) | (byte & 0x3F);
  }
  if (value < smallest || value > kLastCodePoint || (value >= 0xD800 && value <= 0xDFFF)) {
    return false;
  }
  out = value;
  i += length;
  return true;
}

}  // namespace

uint8_t CharToDots(char32_t c) {
  if (c < 256) return kComputerBrailleDots[c];
  if (c >= kBraillePatternsFirst && c <= kBraillePatternsLast) {
    return static_cast<uint8_t>(c - kBraillePatternsFirst);
  }
  const auto* end = std::end(kComputerBrailleMoreDots);
  const auto* found = std::lower_bound(
      std::begin(kComputerBrailleMoreDots), end, c,
      [](const CodePointDots& entry, char32_t wanted) { return entry.codePoint < wanted; });
  if (found != end && found->codePoint == c) return found->dots;
  return kComputerBrailleDots[static_cast<unsigned char>('?')];
}

char32_t DotsToChar(uint8_t dots) {
  return kComputerBrailleChars[dots];
}

std::u32string DecodeText(std::string_view text) {
  std::u32string decoded;
  decoded.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    char32_t c;
    if (!DecodeUtf8At(text, i, c)) {
      decoded.clear();
      for (char byte : text) decoded.push_back(static_cast<unsigned char>(byte));
      return decoded;
    }
    decoded.push_back(c);
  }
  return decoded;
}

std::vector<uint8_t> TextToDots(std::string_view text) {
  std::vector<uint8_t> cells;
  for (char32_t c : DecodeText(text)) cells.push_back(CharToDots(c));
  return cells;
}

std::vector<uint8_t> FitToCells(std::vector<uint8_t> cells, size_t count) {
  cells.resize(count, 0);
  return cells;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c > kLastCodePoint || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

std::string DotsToUnicodeBraille(const uint8_t* dots, size_t count) {
  std::string out;
  for (size_t i = 0; i < count; ++i) AppendUtf8(out, kBraillePatternsFirst + dots[i]);
  return out;
}

std::string DotsToText(const uint8_t* dots, size_t count) {
  std::string out;
  for (size_t i = 0; i < count; ++i) {
    const char32_t c = DotsToChar(dots[i]);
    AppendUtf8(out, c != 0 ? c : kBraillePatternsFirst + dots[i]);
  }
  return out;
}

std::string DotNumbers(uint8_t dots) {
  if (dots == 0) return "0";
  std::string numbers;
  for (int dot = 1; dot <= 8; ++dot) {
    if (dots & (1u << (dot - 1))) numbers.push_back(static_cast<char>('0' + dot));
  }
  return numbers;
}

bool ParseHexDots(std::string_view token, uint8_t* dots) {
  if (token.size() > 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X')) {
    token.remove_prefix(2);
  }
  if (token.empty() || token.size() > 2) return false;
  unsigned value = 0;
  for (char digit : token) {
    value <<= 4;
    if (digit >= '0' && digit <= '9') {
      value |= static_cast<unsigned>(digit - '0');
    } else if (digit >= 'a' && digit <= 'f') {
      value |= static_cast<unsigned>(digit - 'a' + 10);
    } else if (digit >= 'A' && digit <= 'F') {
      value |= static_cast<unsigned>(digit - 'A' + 10);
    } else {
      return false;
    }
  }
  *dots = static_cast<uint8_t>(value);
  return true;
}

}  // namespace zol
