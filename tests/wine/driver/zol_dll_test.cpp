// zol.dll itself, as a host loads it.
#include <windows.h>

#include "c_host.h"
#include "gtest/gtest.h"

namespace {

TEST(ZolDll, ExportsTheEntryPointAndFailsOpenWithoutADisplay) {
  HMODULE module = LoadLibraryA("zol.dll");
  ASSERT_NE(module, nullptr);
  void* stored = nullptr;
  void* driver = CDriverGet(module, &stored);
  ASSERT_NE(driver, nullptr);
  EXPECT_EQ(stored, driver);
  EXPECT_EQ(CDriverGetInfoValue(driver), 768);
  CHost* host = CHostCreate();
  EXPECT_EQ(CDriverOpen(driver, "COM249", host, "", ""), 0);
  EXPECT_EQ(CDriverGetTextCellCount(driver), 0);
  CDriverClose(driver);
  CHostDestroy(host);
  EXPECT_TRUE(FreeLibrary(module));
}

}  // namespace
