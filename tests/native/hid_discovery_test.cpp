#include <gtest/gtest.h>

#include "support/hid_fixture.h"

namespace zol::test {
namespace {

using HidDiscovery = HidLinkTest;

constexpr uint32_t kStep = 301;  // WaitTicks(300) lasts just over 300 ms

sim::SimHidInterface Device(const char* path, uint16_t vendor, uint16_t product, uint16_t version) {
  sim::SimHidInterface entry;
  entry.path = path;
  entry.attributes = {vendor, product, version};
  return entry;
}

TEST_F(HidDiscovery, NoInterfacesWaitsOnceAndFindsNothing) {
  EXPECT_EQ(link.FindHidDisplay(), kHidNone);
  EXPECT_FALSE(link.DeviceOpen());
  EXPECT_EQ(clock.sleptMs(), kStep);
  EXPECT_EQ(bus.listTimes(), (std::vector<uint32_t>{kStart + kStep}));
}

TEST_F(HidDiscovery, UnlistableInterfacesWaitOnceToo) {
  bus.AddDisplay("display", hid::kProduct40, &display40);
  bus.set_failList(true);
  EXPECT_EQ(link.FindHidDisplay(), kHidNone);
  EXPECT_EQ(clock.sleptMs(), kStep);
}

TEST_F(HidDiscovery, WaitsBeforeEveryStepIncludingTheLastAndClosesEveryDecoy) {
  bus.Add(Device("keyboard", 0x845E, 0x0001, 0));
  bus.Add(Device("mouse", 0x845E, 0x0002, 0));
  bus.Add(Device("other", 0x04D8, 0x1234, 0xF100));
  EXPECT_EQ(link.FindHidDisplay(), kHidNone);
  EXPECT_EQ(clock.sleptMs(), 4 * kStep);
  EXPECT_EQ(bus.listTimes(), (std::vector<uint32_t>{kStart + kStep, kStart + 2 * kStep,
                                                    kStart + 3 * kStep, kStart + 4 * kStep}));
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(bus.stats(i).opens, 1) << i;
    EXPECT_EQ(bus.stats(i).closes, 1) << i;
  }
  EXPECT_EQ(bus.openHandles(), 0);
  EXPECT_EQ(bus.misuses(), 0);
}

TEST_F(HidDiscovery, SkipsWrongVersionsAndUnusableDevicesThenOpensTheDisplay) {
  bus.Add(Device("old-40", hid::kVendorId, hid::kProduct40, 0xF101));
  bus.Add(Device("old-80", hid::kVendorId, hid::kProduct80, 0x0100));
  sim::SimHidInterface locked = Device("locked", hid::kVendorId, hid::kProduct40, hid::kVersion);
  locked.failOpen = true;
  bus.Add(locked);
  sim::SimHidInterface mute = Device("mute", hid::kVendorId, hid::kProduct40, hid::kVersion);
  mute.failAttributes = true;
  bus.Add(mute);
  const size_t display = bus.AddDisplay("display-80", hid::kProduct80, &display80);

  EXPECT_EQ(link.FindHidDisplay(), kHid80);
  EXPECT_TRUE(link.DeviceOpen());
  EXPECT_EQ(clock.sleptMs(), 5 * kStep);
  for (size_t i = 0; i < display; ++i) EXPECT_EQ(bus.stats(i).opens, bus.stats(i).closes) << i;
  EXPECT_EQ(bus.OpenHandlesOf(display), 2);  // the plain and the overlapped handle
  EXPECT_EQ(bus.openHandles(), 2);
}

TEST_F(HidDiscovery, FirstOfTwoDisplaysWinsAndTheSecondIsNotTouched) {
  bus.AddDisplay("display-40", hid::kProduct40, &display40);
  bus.AddDisplay("display-80", hid::kProduct80, &display80);
  EXPECT_EQ(link.FindHidDisplay(), kHid40);
  EXPECT_EQ(bus.listTimes().size(), 1u);
  EXPECT_EQ(bus.stats(1).opens, 0);
}

TEST_F(HidDiscovery, AFailedReadChannelRejectsTheInterfaceAndTheSearchGoesOn) {
  sim::SimHidInterface halfOpen = Device("half", hid::kVendorId, hid::kProduct40, hid::kVersion);
  halfOpen.failOverlappedOpen = true;
  bus.Add(halfOpen);
  bus.AddDisplay("display-80", hid::kProduct80, &display80);
  EXPECT_EQ(link.FindHidDisplay(), kHid80);
  EXPECT_EQ(bus.OpenHandlesOf(0), 0);
  EXPECT_EQ(bus.stats(0).closes, 1);
}

TEST_F(HidDiscovery, AnotherSearchClosesTheOpenLinkFirst) {
  bus.AddDisplay("display-40", hid::kProduct40, &display40);
  ASSERT_EQ(link.FindHidDisplay(), kHid40);
  ASSERT_EQ(link.FindHidDisplay(), kHid40);
  EXPECT_EQ(bus.openHandles(), 2);
  link.CloseDevice();
  link.CloseDevice();
  EXPECT_EQ(bus.openHandles(), 0);
  EXPECT_EQ(bus.misuses(), 0);
}

TEST_F(HidDiscovery, AnUnpluggedDisplayIsFoundAgainWhenPluggedIn) {
  const size_t display = bus.AddDisplay("display-40", hid::kProduct40, &display40);
  ASSERT_EQ(link.FindHidDisplay(), kHid40);
  bus.Unplug(display);
  const uint8_t payload[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(link.WriteHidReport(payload), 0);
  uint8_t in[8];
  EXPECT_EQ(link.ReadHidReport(in), -1);
  EXPECT_EQ(link.FindHidDisplay(), kHidNone);
  EXPECT_EQ(bus.openHandles(), 0);

  bus.Replug(display);
  ASSERT_EQ(link.FindHidDisplay(), kHid40);
  EXPECT_EQ(link.WriteHidReport(payload), 1);
  EXPECT_EQ(display40.outputReports().size(), 1u);
}

}  // namespace
}  // namespace zol::test
