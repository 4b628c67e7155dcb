#include <gtest/gtest.h>

#include <string>

#include "hid/hid_path.h"
#include "support/hid_fixture.h"

namespace zol::test {
namespace {

using HidDiscovery = HidLinkTest;

constexpr uint32_t kSettle = 301;  // WaitTicks(300) lasts just over 300 ms

sim::SimHidInterface Device(const char* path, uint16_t vendor, uint16_t product, uint16_t version) {
  sim::SimHidInterface entry;
  entry.path = path;
  entry.attributes = {vendor, product, version};
  return entry;
}

TEST(HidPath, ReadsUsbIdsInAnyCaseAndNothingFromOtherBuses) {
  struct Case {
    const char* path;
    bool says;
    uint16_t vendor, product;
  };
  const Case cases[] = {
      {"\\\\?\\hid#vid_04d8&pid_abd7#7&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}",
       true, 0x04D8, 0xABD7},
      {"\\\\?\\HID#VID_046D&PID_C52B&MI_01&COL01#8&2b&0&0000#{4D1E55B2-F16F-11CF-88CB-"
       "001111000030}",
       true, 0x046D, 0xC52B},
      {"\\\\?\\hid#{00001124-0000-1000-8000-00805f9b34fb}_vid&000204d8_pid&abd7#9&1&0&0000#{x}",
       false, 0, 0},
      {"\\\\?\\hid#msft0001&col01#4&1&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}", false, 0, 0},
      {"\\\\?\\hid#vid_04d8&pid_ab#1", false, 0, 0},  // cut short
      {"\\\\?\\hid#sim", false, 0, 0},
      {"", false, 0, 0},
  };
  for (const Case& c : cases) {
    hid::PathIds ids;
    EXPECT_EQ(hid::IdsFromPath(c.path, &ids), c.says) << c.path;
    if (c.says) {
      EXPECT_EQ(ids.vendorId, c.vendor) << c.path;
      EXPECT_EQ(ids.productId, c.product) << c.path;
    }
  }
}

TEST_F(HidDiscovery, InterfacesThatCannotBeTheDisplayCostNoWaitAndNoOpenForReadingOrWriting) {
  sim::SimHidInterface keyboard =
      Device("\\\\?\\hid#vid_046d&pid_c52b&mi_00#7&1#{k}", 0x046D, 0xC52B, 0x1201);
  keyboard.failOpen = true;  // as Windows refuses keyboards and mice
  bus.Add(keyboard);
  bus.Add(Device("\\\\?\\hid#vid_04d8&pid_1234#7&2#{k}", hid::kVendorId, 0x1234, hid::kVersion));
  bus.Add(Device("\\\\?\\hid#{00001124}_vid&0002046d_pid&b016#9&3#{k}", 0x046D, 0xB016, 1));
  sim::SimHidInterface mute = Device("\\\\?\\hid#i2c-touchpad#1#{k}", 0, 0, 0);
  mute.failAttributes = true;
  bus.Add(mute);
  EXPECT_EQ(link.FindHidDisplay(), kHidNone);
  EXPECT_EQ(clock.sleptMs(), 0u);
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(bus.stats(i).opens, 0) << i;
  EXPECT_EQ(bus.stats(0).queryOpens + bus.stats(1).queryOpens, 0);  // their paths say enough
  EXPECT_EQ(bus.stats(2).queryOpens, 1);
  EXPECT_EQ(bus.stats(3).queryOpens, 1);
  EXPECT_EQ(bus.openHandles(), 0);
  EXPECT_EQ(bus.misuses(), 0);
}

TEST_F(HidDiscovery, FindsTheDisplayByUsbPathOrByAttributesAfterOneSettleWait) {
  for (const char* path :
       {"\\\\?\\HID#VID_04D8&PID_ABD8#7&9&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}",
        "\\\\?\\hid#{00001124-0000-1000-8000-00805f9b34fb}_vid&000204d8_pid&abd8#9&1#{k}"}) {
    sim::SimClock clock(kStart);
    sim::SimHidBus bus(clock);
    HidLink link(bus, clock, shared, ack, input);
    bus.Add(Device("\\\\?\\hid#vid_046d&pid_c52b#1#{k}", 0x046D, 0xC52B, 1));
    const size_t display = bus.AddDisplay(path, hid::kProduct80, &display80);
    EXPECT_EQ(link.FindHidDisplay(), kHid80) << path;
    EXPECT_EQ(clock.sleptMs(), kSettle) << path;
    EXPECT_EQ(bus.OpenHandlesOf(display), 2) << path;  // the write and the read channel
    EXPECT_EQ(bus.stats(display).inputBuffers, HidLink::kInputBuffers) << path;
  }
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
  sim::SimHidInterface half = Device("half", hid::kVendorId, hid::kProduct40, hid::kVersion);
  half.failSecondOpen = true;
  bus.Add(half);
  const size_t display = bus.AddDisplay("display-80", hid::kProduct80, &display80);

  EXPECT_EQ(link.FindHidDisplay(), kHid80);
  EXPECT_TRUE(link.DeviceOpen());
  EXPECT_EQ(clock.sleptMs(), 3 * kSettle);  // locked, half and the display
  for (size_t i = 0; i < display; ++i) {
    const sim::SimHidBus::Stats stats = bus.stats(i);
    EXPECT_EQ(stats.opens + stats.queryOpens, stats.closes) << i;
  }
  EXPECT_EQ(bus.OpenHandlesOf(display), 2);
  EXPECT_EQ(bus.openHandles(), 2);
}

TEST_F(HidDiscovery, FirstOfTwoDisplaysWinsAndTheSecondIsNotTouched) {
  bus.AddDisplay("display-40", hid::kProduct40, &display40);
  bus.AddDisplay("display-80", hid::kProduct80, &display80);
  EXPECT_EQ(link.FindHidDisplay(), kHid40);
  EXPECT_EQ(bus.listTimes().size(), 1u);
  EXPECT_EQ(bus.stats(1).opens + bus.stats(1).queryOpens, 0);
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

TEST_F(HidDiscovery, AnUnpluggedDisplayIsLostAndFoundAgainWhenPluggedIn) {
  const size_t display = bus.AddDisplay("display-40", hid::kProduct40, &display40);
  ASSERT_EQ(link.FindHidDisplay(), kHid40);
  bus.Unplug(display);
  const uint8_t payload[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(link.WriteHidReport(payload), 0);
  EXPECT_TRUE(link.DeviceLost());
  EXPECT_EQ(link.FindHidDisplay(), kHidNone);
  EXPECT_EQ(bus.openHandles(), 0);

  bus.Replug(display);
  ASSERT_EQ(link.FindHidDisplay(), kHid40);
  EXPECT_FALSE(link.DeviceLost());
  EXPECT_EQ(link.WriteHidReport(payload), 1);
  EXPECT_EQ(display40.outputReports().size(), 1u);
}

}  // namespace
}  // namespace zol::test
