// The shipped Win32HidBus on Wine's own HID class stack: the functions it takes from the system's
// hid.dll and setupapi.dll (Wine's built-in ones here), and Wine's own HID devices listed and
// read through it. No device of the test minidriver is needed.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "hid_pipe_server.h"
#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_hid_api.h"
#include "platform/win32/win32_hid_bus.h"
#include "sim/hid_display.h"

namespace zol::hidstack {
namespace {

// Every function the table looks up, and the one it is told is missing.
std::vector<std::string> lookedUp;
std::string missing;
FARPROC WINAPI LookupWithOneMissing(HMODULE module, LPCSTR name) {
  lookedUp.push_back(name);
  return missing == name ? nullptr : GetProcAddress(module, name);
}

TEST(WineHidStackBus, AnyFunctionMissingLeavesHidUnavailable) {
  // The system directory's DLLs, which this program imports too: the same modules.
  ASSERT_NE(win32::SystemHidApi(), nullptr);
  const HMODULE hid = GetModuleHandleA("hid.dll");
  const HMODULE setupapi = GetModuleHandleA("setupapi.dll");
  ASSERT_NE(hid, nullptr);
  win32::HidApi api;
  ASSERT_TRUE(win32::ResolveHidApi(hid, setupapi, &api, LookupWithOneMissing));
  static_assert(sizeof api % sizeof(void*) == 0, "the table holds function pointers only");
  const auto* entries = reinterpret_cast<void* const*>(&api);
  for (size_t i = 0; i < sizeof api / sizeof(void*); ++i) EXPECT_NE(entries[i], nullptr) << i;
  const std::vector<std::string> names = lookedUp;
  for (const std::string& name : names) {
    missing = name;
    EXPECT_FALSE(win32::ResolveHidApi(hid, setupapi, &api, LookupWithOneMissing)) << name;
  }
  EXPECT_FALSE(win32::ResolveHidApi(nullptr, setupapi, &api));
  EXPECT_FALSE(win32::ResolveHidApi(hid, nullptr, &api));

  // Without the table nothing is listed and every HID call fails; the device file still opens.
  win32::Win32Clock clock;
  sim::HidDisplay display{clock, sim::HidDisplay::Model40()};
  sim::HidPipeServer server{sim::HidPipeServer::PipePath("hidstack-bus"), display};
  ASSERT_TRUE(server.Start());
  win32::Win32HidBus unavailable(nullptr);
  char path[256];
  EXPECT_FALSE(unavailable.BeginList());
  EXPECT_FALSE(unavailable.PathAt(0, path, sizeof path));
  unavailable.EndList();
  const HidHandle handle = unavailable.OpenForQuery(server.path().c_str());
  ASSERT_NE(handle, 0u);
  HidAttributes attributes;
  HidReportLengths lengths;
  EXPECT_FALSE(unavailable.Attributes(handle, &attributes));
  EXPECT_FALSE(unavailable.ReportLengths(handle, &lengths));
  EXPECT_FALSE(unavailable.SetInputBuffers(handle, 64));
  unavailable.Close(handle);
}

// Wine's own HID interfaces (its virtual bus's, vendor 845E) come up with Wine's device
// services, which may still be starting when this program runs.
TEST(WineHidStackBus, WinesOwnHidDevicesAreListedAndReadThroughTheDriversBus) {
  win32::Win32HidBus bus;
  std::vector<std::string> paths;
  const DWORD start = GetTickCount();
  for (;;) {
    paths.clear();
    if (bus.BeginList()) {
      char path[1024];
      for (uint32_t i = 0; bus.PathAt(i, path, sizeof path); ++i) paths.push_back(path);
      bus.EndList();
    }
    if (paths.size() >= 2 || GetTickCount() - start > 30000) break;
    Sleep(5);
  }
  ASSERT_GE(paths.size(), 2u) << "Wine's own HID devices did not come up";
  int wineDevices = 0;
  for (const std::string& path : paths) {
    const HidHandle handle = bus.OpenForQuery(path.c_str());
    ASSERT_NE(handle, 0u) << path;
    HidAttributes attributes;
    EXPECT_TRUE(bus.Attributes(handle, &attributes)) << path;
    if (attributes.vendorId == 0x845E) ++wineDevices;
    bus.Close(handle);
  }
  EXPECT_GE(wineDevices, 2);
}

}  // namespace
}  // namespace zol::hidstack
