// Wine's own HID class stack with the test minidriver: the display's device is found, named and
// described by Wine's built-in setupapi.dll and hid.dll, and its reports reach the simulated
// display both ways.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

extern "C" {
#include <hidsdi.h>
}

#include "hid/hid_reports.h"
#include "hid_pipe_server.h"
#include "platform/win32/win32_clock.h"
#include "sim/hid_display.h"
#include "wine_hid_stack.h"

namespace zol::hidstack {
namespace {

std::string PipePath() {
  return sim::HidPipeServer::PipePath("hidstack-probe");
}

std::string ModulePath(const char* name) {
  char path[MAX_PATH] = "";
  HMODULE module = GetModuleHandleA(name);
  if (module != nullptr) GetModuleFileNameA(module, path, MAX_PATH);
  return path;
}

TEST(WineHidStackProbe, TheMinidriverLoadsAndItsDeviceIsListedNamedAndDescribed) {
  win32::Win32Clock clock;
  sim::HidDisplay display(clock, sim::HidDisplay::Model40());
  sim::HidPipeServer server(PipePath(), display);
  server.SetInputBuffers(sim::HidPipeServer::kCarrierBuffers);
  ASSERT_TRUE(server.Start());
  VirtualHidDevice device;
  std::string error;
  ASSERT_TRUE(device.Plug(server.path(), hid::kVendorId, hid::kProduct40, hid::kVersion, &error))
      << error;
  EXPECT_NE(device.interfacePath().find("vid_04d8&pid_abd7"), std::string::npos)
      << device.interfacePath();

  HANDLE file = CreateFileA(device.interfacePath().c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
  HIDD_ATTRIBUTES attributes{};
  attributes.Size = sizeof attributes;
  ASSERT_TRUE(HidD_GetAttributes(file, &attributes)) << GetLastError();
  EXPECT_EQ(attributes.VendorID, hid::kVendorId);
  EXPECT_EQ(attributes.ProductID, hid::kProduct40);
  EXPECT_EQ(attributes.VersionNumber, hid::kVersion);
  PHIDP_PREPARSED_DATA preparsed = nullptr;
  ASSERT_TRUE(HidD_GetPreparsedData(file, &preparsed)) << GetLastError();
  HIDP_CAPS caps{};
  EXPECT_EQ(HidP_GetCaps(preparsed, &caps), HIDP_STATUS_SUCCESS);
  HidD_FreePreparsedData(preparsed);
  EXPECT_EQ(caps.InputReportByteLength, 9);
  EXPECT_EQ(caps.OutputReportByteLength, 9);
  EXPECT_EQ(caps.UsagePage, 0xFF00);

  // Built-in DLLs, no test-only ones.
  EXPECT_NE(ModulePath("hid.dll").find("system32"), std::string::npos) << ModulePath("hid.dll");
  EXPECT_NE(ModulePath("setupapi.dll").find("system32"), std::string::npos);

  // One report each way: an identify request, answered by the display.
  uint8_t request[9] = {0};
  std::memcpy(request + 1, hid::kHandshakeRequest, 8);
  DWORD done = 0;
  ASSERT_TRUE(WriteFile(file, request, sizeof request, &done, nullptr)) << GetLastError();
  EXPECT_EQ(done, 8u) << "Wine counts what the minidriver sent: the payload, not the ID byte";
  uint8_t reply[9] = {};
  ASSERT_TRUE(ReadFile(file, reply, sizeof reply, &done, nullptr)) << GetLastError();
  EXPECT_EQ(done, 9u);
  EXPECT_EQ(reply[0], 0);
  EXPECT_EQ(reply[1], 0xFB);
  ASSERT_FALSE(display.outputReports().empty());
  EXPECT_EQ(display.outputReports().front(), std::vector<uint8_t>(request, request + 9));
  CloseHandle(file);
  EXPECT_TRUE(device.Unplug(&error)) << error;
}

}  // namespace
}  // namespace zol::hidstack
