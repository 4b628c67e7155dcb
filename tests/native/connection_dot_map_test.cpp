#include <gtest/gtest.h>

#include <set>

#include "connection/dot_map.h"
#include "testing/device_dots.h"

namespace zol {
namespace {

static_assert(MapDotsToDevice(0x01) == 0x08, "the table is usable at compile time");
static_assert(testing::MapDotsToHost(0x08) == 0x01, "so is its inverse");

struct DotsExample {
  uint8_t host;
  uint8_t device;
};
constexpr DotsExample kExamples[] = {{0x01, 0x08}, {0x07, 0x0E}, {0x38, 0xE0},
                                     {0x40, 0x01}, {0x80, 0x10}, {0xC0, 0x11},
                                     {0x1B, 0xCC}, {0xFF, 0xFF}, {0x00, 0x00}};

TEST(MapDotsToDevice, Examples) {
  for (const DotsExample& example : kExamples)
    EXPECT_EQ(MapDotsToDevice(example.host), example.device) << int{example.host};
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

// What the virtual display, the end-to-end tests and the benchmark read back.
TEST(MapDotsToHost, UndoesTheDriversBitOrder) {
  for (const DotsExample& example : kExamples)
    EXPECT_EQ(testing::MapDotsToHost(example.device), example.host) << int{example.device};
  for (int host = 0; host < 256; ++host)
    EXPECT_EQ(testing::MapDotsToHost(MapDotsToDevice(static_cast<uint8_t>(host))), host);
}

}  // namespace
}  // namespace zol
