// Bounded copies between host buffers and the driver's text fields, and the driver's identity.
#include <cstring>
#include <string>

#include "driver/bounded_text.h"
#include "driver/driver_identity.h"
#include "gtest/gtest.h"
#include "zol/braille_driver.h"

namespace zol {
namespace {

std::string Field(const char* text) {
  char field[8];
  std::memset(field, 'x', sizeof field);
  CopyToField(field, sizeof field, text);
  return std::string(field, sizeof field);
}

TEST(DriverText, FieldsTakeAtMostTheirSizeAndAreZeroFilled) {
  EXPECT_EQ(Field("abc"), std::string("abc\0\0\0\0\0", 8));
  EXPECT_EQ(Field("abcdefgh"), "abcdefgh");  // fills the field, no terminator
  EXPECT_EQ(Field("abcdefghijk"), "abcdefgh");
  EXPECT_EQ(Field(nullptr), std::string(8, '\0'));
}

TEST(DriverText, CopyOutCutsToTheBufferAndAlwaysTerminates) {
  const char field[8] = {'a', 'b', 'c', 'd', 'e', 'f', 0, 0};
  char buffer[16];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(CopyFieldOut(field, sizeof field, buffer, 4), 3);
  EXPECT_EQ(std::string(buffer, 5), std::string("abc\0x", 5));
  EXPECT_EQ(CopyFieldOut(field, sizeof field, buffer, 16), 6);
  EXPECT_EQ(std::string(buffer, 16), std::string("abcdef") + std::string(10, '\0'));
  EXPECT_EQ(CopyFieldOut(field, sizeof field, buffer, 1), 0);
  EXPECT_EQ(buffer[0], 0);
}

TEST(DriverText, CopyOutNeverReadsPastAFullField) {
  const char full[4] = {'w', 'x', 'y', 'z'};  // no terminator
  char buffer[10];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(CopyFieldOut(full, sizeof full, buffer, 10), 4);
  EXPECT_EQ(std::string(buffer, 10), std::string("wxyz") + std::string(6, '\0'));
}

TEST(DriverIdentity, GuidBytesAreTheInMemoryRecordOfThePublicGuid) {
  const ZolGuid guid = ZOL_DRIVER_GUID_INIT;
  uint8_t record[16];
  std::memcpy(record, &guid, sizeof record);  // little-endian, as on Windows
  EXPECT_EQ(std::memcmp(record, kDriverGuidBytes, 16), 0);
  EXPECT_EQ(kDriverGuidBytes[0], 0x90);
  EXPECT_EQ(kDriverGuidBytes[4], 0x3D);
  EXPECT_EQ(kDriverGuidBytes[15], 0x24);
}

}  // namespace
}  // namespace zol
