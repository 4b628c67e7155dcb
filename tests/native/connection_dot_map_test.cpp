#include <gtest/gtest.h>

#include <set>

#include "connection/dot_map.h"

namespace zol {
namespace {

static_assert(MapDotsToDevice(0x01) == 0x08, "the table is usable at compile time");

TEST(MapDotsToDevice, Examples) {
  EXPECT_EQ(MapDotsToDevice(0x01), 0x08);
  EXPECT_EQ(MapDotsToDevice(0x07), 0x0E);
  EXPECT_EQ(MapDotsToDevice(0x38), 0xE0);
  EXPECT_EQ(MapDotsToDevice(0x40), 0x01);
  EXPECT_EQ(MapDotsToDevice(0x80), 0x10);
  EXPECT_EQ(MapDotsToDevice(0xC0), 0x11);
  EXPECT_EQ(MapDotsToDevice(0x1B), 0xCC);
  EXPECT_EQ(MapDotsToDevice(0xFF), 0xFF);
  EXPECT_EQ(MapDotsToDevice(0x00), 0x00);
}

TEST(MapDotsToDevice, IsABijectionWhereOnlyDotSixKeepsItsPlace) {
  std::set<uint8_t> images;
  for (int host = 0; host < 256; ++host) {
    images.insert(MapDotsToDevice(static_cast<uint8_t>(host)));
  }
  EXPECT_EQ(images.size(), 256u);
  for (int bit = 0; bit < 8; ++bit) {
    const uint8_t single = static_cast<uint8_t>(1u << bit);
    EXPECT_EQ(MapDotsToDevice(single) == single, single == 0x20) << "bit " << bit;
  }
}

}  // namespace
}  // namespace zol
