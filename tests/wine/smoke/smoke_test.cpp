#include <gtest/gtest.h>
#include <windows.h>
TEST(Smoke, LoadsDriver) {
  HMODULE m = LoadLibraryA("zol.dll");
  ASSERT_NE(m, nullptr);
  EXPECT_NE(GetProcAddress(m, "GetBrailleInterface"), nullptr);
}
