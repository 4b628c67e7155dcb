#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>

#include "connection/share_block.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32/win32_share_section.h"

namespace zol {
namespace {

// The cooperating program's side: it creates the section and keeps its own view.
class CooperatingProgram {
 public:
  // reserveOnly: the section's pages are only reserved (SEC_RESERVE) until Commit().
  explicit CooperatingProgram(bool reserveOnly = false) {
    mapping_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr,
                                  PAGE_READWRITE | (reserveOnly ? SEC_RESERVE : 0), 0, 4096,
                                  kShareSectionName);
    if (mapping_ != nullptr)
      view_ = static_cast<uint8_t*>(MapViewOfFile(mapping_, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  }
  ~CooperatingProgram() {
    if (view_ != nullptr) UnmapViewOfFile(view_);
    if (mapping_ != nullptr) CloseHandle(mapping_);
  }
  uint8_t* view() const { return view_; }

 private:
  HANDLE mapping_ = nullptr;
  uint8_t* view_ = nullptr;
};

TEST(Win32ShareSection, DoesNotOpenASectionThatNobodyCreated) {
  win32::Win32ShareSection section;
  EXPECT_FALSE(section.OpenMapping());
  section.Release();
}

TEST(Win32ShareSection, SharesTheBytesOfTheSectionTheOtherProgramCreated) {
  CooperatingProgram program;
  ASSERT_NE(program.view(), nullptr);
  win32::Win32ShareSection section;
  ASSERT_TRUE(section.OpenMapping());
  uint8_t* view = section.MapView();
  ASSERT_NE(view, nullptr);

  const uint8_t request[4] = {101, 0, 0, 0};
  std::memcpy(program.view(), request, 4);
  EXPECT_EQ(std::memcmp(view, request, 4), 0);
  view[254] = 0x5A;  // the last byte of the driver's 255
  EXPECT_EQ(program.view()[254], 0x5A);

  EXPECT_FALSE(section.MappingInheritable()) << "no program the host starts gets the section";

  section.Release();
  section.Release();                   // twice is harmless
  ASSERT_TRUE(section.OpenMapping());  // the section lives on with its creator
  ASSERT_NE(section.MapView(), nullptr);
}

// A section whose pages were reserved and never committed: its first read would fault. It is
// taken as absent, and looked for again (opening it anew) every time.
TEST(Win32ShareSection, ASectionOfReservedPagesCountsAsAbsent) {
  CooperatingProgram program(true);
  ASSERT_NE(program.view(), nullptr);
  win32::Win32ShareSection section;
  for (int tick = 0; tick < 3; ++tick) {
    EXPECT_FALSE(section.OpenMapping());
    EXPECT_EQ(section.MapView(), nullptr);
  }
}

class NoHost : public HostLink {
 public:
  bool HostSet() override { return false; }
  void PostKeyEvent(const char*, int32_t) override {}
  void DeviceData(const uint8_t*, int32_t) override {}
};

// The device side over the real Windows services, with no display anywhere: the connect fails
// cleanly, ticks publish the (unknown) COM number, and the shutdown lets go of the section.
TEST(Win32Platform, ComposesADeviceSideThatFindsNoDisplay) {
  CooperatingProgram program;
  ASSERT_NE(program.view(), nullptr);
  const uint8_t word[4] = {55, 0, 0, 0};
  std::memcpy(program.view(), word, 4);

  win32::Win32Platform windows;
  SharedState shared;
  NoHost host;
  DeviceCore device(windows.platform(), shared, host);
  EXPECT_EQ(device.Connect("COM250"), 0);
  EXPECT_EQ(device.linkKind(), LinkKind::None);
  device.PollTick();  // opens the section
  device.PollTick();  // publishes the COM number, 0 without a serial identify
  const uint8_t published[4] = {0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(program.view(), published, 4), 0);
  device.Shutdown();
  EXPECT_FALSE(device.portSharing().mappingOpen());
  EXPECT_EQ(shared.suspended.load(), 0);
}

}  // namespace
}  // namespace zol
