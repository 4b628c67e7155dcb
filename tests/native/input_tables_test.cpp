#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "input/high_char_table.h"
#include "input/key_name_table.h"
#include "input/scan_code_table.h"
#include "input/special_key_table.h"

namespace zol {
namespace {

TEST(KeyNameTable, RowsAreZeroPaddedAndTheLastTwoOfEachGroupEmpty) {
  for (int row = 0; row < 64; ++row) {
    const char* name = keyNameTable[row];
    const bool empty = row % 16 >= 14;
    EXPECT_EQ(name[0] == '\0', empty) << "row " << row;
    for (size_t i = std::strlen(name); i < sizeof keyNameTable[row]; ++i) {
      ASSERT_EQ(name[i], '\0') << "row " << row;
    }
  }
}

TEST(SpecialKeyTable, HoldsExactlyTheListedKeys) {
  ASSERT_EQ(specialKeyTable.size(), 127u);
  const std::pair<int, uint16_t> keys[] = {
      {0, 0x0D},  {1, 0x26},  {2, 0x28},    {3, 0x27},    {4, 0x25},    {5, 0x2D},
      {6, 0x24},  {7, 0x2E},  {8, 0x23},    {9, 0x21},    {10, 0x22},   {11, 0x08},
      {12, 0x09}, {13, 0x1B}, {41, 0x0473}, {53, 0x0273}, {126, 0x0109}};
  for (const auto& [code, keyWord] : keys) EXPECT_EQ(specialKeyTable[code], keyWord) << code;
  int withKey = 0;
  for (uint16_t keyWord : specialKeyTable) withKey += keyWord != 0;
  EXPECT_EQ(withKey, 17);
}

TEST(HighCharTable, MapsCodePage437ToWindows1252WithFillers) {
  ASSERT_EQ(highCharTable.size(), 128u);
  const std::pair<int, uint8_t> samples[] = {{0x80, 0xC7}, {0x8F, 0xC5}, {0x98, 0xFF}, {0x9E, 0x90},
                                             {0x9F, 0x83}, {0xA0, 0xE1}, {0xA9, 0x90}, {0xAF, 0xBB},
                                             {0xB0, 0x90}, {0xE1, 0x90}, {0xF0, 0x90}, {0xF1, 0xB1},
                                             {0xF7, 0x90}, {0xF8, 0xB0}, {0xFF, 0x90}};
  for (const auto& [code, character] : samples) {
    EXPECT_EQ(highCharTable[code - 128], character) << std::hex << code;
  }
  int characters = 0;
  for (uint8_t c : highCharTable) characters += c != 0x90;
  EXPECT_EQ(characters, 48);
}

TEST(ScanCodeTable, HoldsOneDistinctBreakCodePerKey) {
  ASSERT_EQ(scanCodeTable.size(), 224u);
  std::set<uint16_t> codes;
  for (size_t code = 0; code < scanCodeTable.size(); ++code) {
    const uint16_t entry = scanCodeTable[code];
    if (entry == 0) continue;
    EXPECT_LE(entry, 0xFF) << std::hex << code;
    if (code != 0x61) {
      EXPECT_TRUE(entry & 0x80) << std::hex << code;
    }
    EXPECT_LT(code, 0x84u);
    codes.insert(entry);
  }
  EXPECT_EQ(codes.size(), 89u);
  EXPECT_EQ(scanCodeTable[0x61], 0x56);
}

TEST(ScanCodeTable, SampleKeys) {
  const std::pair<int, uint16_t> keys[] = {
      {0x76, 0x81},  // Escape
      {0x16, 0x82},  // 1
      {0x1C, 0x9E},  // A
      {0x14, 0x9D},  // Ctrl
      {0x5A, 0x9C},  // Enter
      {0x29, 0xB9},  // Space
      {0x75, 0xC8},  // keypad 8 / Up
      {0x83, 0xC1},  // F7
      {0x78, 0xD7},  // F11
      {0x07, 0xD8},  // F12
  };
  for (const auto& [code, entry] : keys) EXPECT_EQ(scanCodeTable[code], entry) << std::hex << code;
}

}  // namespace
}  // namespace zol
