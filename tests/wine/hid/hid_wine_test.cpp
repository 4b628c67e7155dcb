// The shipped Win32HidBus under Wine, with test-only hid.dll and setupapi.dll, finding and
// driving simulated displays that are served as named pipes on a thread of this program.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/shared_state.h"
#include "hid/hid_link.h"
#include "hid/hid_reports.h"
#include "hid_pipe_server.h"
#include "input/input_translator.h"
#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_hid_bus.h"
#include "sim/hid_display.h"

namespace zol::test {
namespace {

using Bytes = std::vector<uint8_t>;

struct KeyEvent {
  std::string name;
  int32_t value;
  bool operator==(const KeyEvent& other) const {
    return name == other.name && value == other.value;
  }
};
using Events = std::vector<KeyEvent>;

// The key events the translator posts towards the host.
class RecordingHostLink : public HostLink {
 public:
  bool HostSet() override { return true; }
  void PostKeyEvent(const char* name, int32_t value) override { events.push_back({name, value}); }
  void DeviceData(const uint8_t*, int32_t) override {}
  Events events;
};

class NullKeyInjector : public KeyInjector {
 public:
  int16_t KeyWordForChar(char16_t) override { return -1; }
  void VirtualKey(uint8_t, uint32_t) override {}
  void ScanCode(uint16_t, uint32_t) override {}
  void UnicodeCharacter(char16_t) override {}
};

constexpr DWORD kGenerousMs = 10000;

std::string PipePath(const char* name) {
  return "\\\\.\\pipe\\zol-hidsim-" + std::to_string(GetCurrentProcessId()) + "-" + name;
}

std::string Entry(const std::string& path, uint16_t vendor, uint16_t product, uint16_t version,
                  uint16_t input = 9, uint16_t output = 9) {
  char numbers[64];
  std::snprintf(numbers, sizeof numbers, "|%x|%x|%x|%x|%x", vendor, product, version, input,
                output);
  return path + numbers;
}

void Configure(const std::vector<std::string>& entries) {
  std::string text;
  for (const std::string& entry : entries) text += (text.empty() ? "" : ";") + entry;
  SetEnvironmentVariableA("ZOL_HIDSIM_DEVICES", text.c_str());
}

// Waits for a condition that another thread makes true.
template <typename Condition>
bool Eventually(Condition condition, DWORD limitMs = kGenerousMs) {
  const DWORD start = GetTickCount();
  while (!condition()) {
    if (GetTickCount() - start > limitMs) return false;
    Sleep(5);
  }
  return true;
}

class HidWine : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::HidDisplayConfig silent = sim::HidDisplay::Model40();
    silent.replies = false;
    silent.ack = sim::AckPolicy::None;
    decoy.Configure(silent);
    ASSERT_TRUE(display40Server.Start());
    ASSERT_TRUE(display80Server.Start());
    ASSERT_TRUE(decoyServer.Start());
    ASSERT_TRUE(wrongVersionServer.Start());
  }
  void TearDown() override {
    link.CloseDevice();
    SetEnvironmentVariableA("ZOL_HIDSIM_DEVICES", nullptr);
  }

  // Wine's own HID interfaces as the driver's bus lists them. They come up with Wine's device
  // services, which may still be starting when this program runs.
  std::vector<std::string> WineInterfaces() {
    Configure({"wine"});
    std::vector<std::string> paths;
    Eventually(
        [&] {
          paths.clear();
          if (!bus.BeginList()) return false;
          char path[1024];
          for (uint32_t i = 0; bus.PathAt(i, path, sizeof path); ++i) paths.push_back(path);
          bus.EndList();
          return paths.size() >= 2;
        },
        30000);
    return paths;
  }

  // Polls for one input report the way the poll tick does, and decodes it.
  bool HandleNextReport() {
    uint8_t payload[8];
    const bool got = Eventually([&] { return link.ReadHidReport(payload) == 9; });
    if (got) link.HandleHidInput(payload);
    return got;
  }

  win32::Win32Clock clock;
  win32::Win32HidBus bus;
  SharedState shared;
  FrameAck ack;
  RecordingHostLink host;
  NullKeyInjector injector;
  InputTranslator input{host, injector, clock, shared};
  HidLink link{bus, clock, shared, ack, input};

  sim::HidDisplay display40{clock, sim::HidDisplay::Model40()};
  sim::HidDisplay display80{clock, sim::HidDisplay::Model80()};
  sim::HidDisplay decoy{clock, sim::HidDisplay::Model40()};
  sim::HidPipeServer display40Server{PipePath("display40"), display40};
  sim::HidPipeServer display80Server{PipePath("display80"), display80};
  sim::HidPipeServer decoyServer{PipePath("decoy"), decoy};
  sim::HidPipeServer wrongVersionServer{PipePath("old"), decoy};
};

using HidWineFakes = HidWine;
using HidWine40 = HidWine;
using HidWine80 = HidWine;

std::string ModuleDirectory(HMODULE module) {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(module, path, sizeof path);
  std::string text(path);
  return text.substr(0, text.find_last_of("\\/"));
}

TEST_F(HidWineFakes, TheTestDllsBesideThisProgramAreTheOnesLoaded) {
  const std::string here = ModuleDirectory(nullptr);
  ASSERT_NE(GetModuleHandleA("hid.dll"), nullptr);
  ASSERT_NE(GetModuleHandleA("setupapi.dll"), nullptr);
  EXPECT_EQ(ModuleDirectory(GetModuleHandleA("hid.dll")), here);
  EXPECT_EQ(ModuleDirectory(GetModuleHandleA("setupapi.dll")), here);
}

TEST_F(HidWineFakes, WinesOwnHidDevicesAreListedAndReadThroughTheDriversBus) {
  const std::vector<std::string> paths = WineInterfaces();
  ASSERT_GE(paths.size(), 2u) << "Wine's own HID devices did not come up";
  int wineDevices = 0;
  for (const std::string& path : paths) {
    const HidHandle handle = bus.Open(path.c_str(), false);
    ASSERT_NE(handle, 0u) << path;
    HidAttributes attributes;
    EXPECT_TRUE(bus.Attributes(handle, &attributes)) << path;
    if (attributes.vendorId == 0x845E) ++wineDevices;
    bus.Close(handle);
  }
  EXPECT_GE(wineDevices, 2);
}

TEST_F(HidWine40, FoundBehindOtherDevicesItAnswersAcknowledgesAndSendsKeys) {
  const size_t others = WineInterfaces().size() + 2;
  ASSERT_GE(others, 4u);
  Configure({"wine", Entry(PipePath("decoy"), 0x1234, 0x5678, 0x0100),
             Entry(PipePath("old"), hid::kVendorId, hid::kProduct40, 0xF0FF),
             Entry(PipePath("display40"), hid::kVendorId, hid::kProduct40, hid::kVersion),
             Entry(PipePath("display80"), hid::kVendorId, hid::kProduct80, hid::kVersion)});
  const DWORD start = GetTickCount();
  ASSERT_EQ(link.FindHidDisplay(), kHid40);
  EXPECT_GE(GetTickCount() - start, 300 * (others + 1)) << "300 ms before every step";
  // The servers learn of opens and closes a moment later.
  EXPECT_TRUE(Eventually([&] {
    return display40Server.connectionsOpen() == 2 &&  // plain and overlapped
           decoyServer.connectionsAccepted() == 1 && decoyServer.connectionsOpen() == 0 &&
           wrongVersionServer.connectionsAccepted() == 1 &&
           wrongVersionServer.connectionsOpen() == 0;
  })) << "a device that is not the display is opened once and closed again";
  EXPECT_EQ(display40Server.connectionsAccepted(), 2);
  EXPECT_EQ(display80Server.connectionsAccepted(), 0);

  ASSERT_EQ(link.HidHandshake(), 1);
  EXPECT_EQ(shared.textCellCount.load(), 40);
  EXPECT_EQ(shared.statusCellCount.load(), 0);

  // Nothing waiting: no report, and the cancelled read swallows nothing sent afterwards.
  uint8_t payload[8];
  EXPECT_EQ(link.ReadHidReport(payload), -1);

  Bytes first(42), second(42);
  for (size_t i = 0; i < 42; ++i) {
    first[i] = static_cast<uint8_t>(i + 1);
    second[i] = static_cast<uint8_t>(0x80 | i);
  }
  link.SendHidFrame40(first.data());
  link.SendHidFrame40(second.data());  // waits in the ring
  EXPECT_EQ(ack.ackPending, 1);
  ASSERT_TRUE(HandleNextReport());
  EXPECT_EQ(ack.ackPending, 0);
  link.SendNextQueuedFrame(true);
  ASSERT_TRUE(HandleNextReport());
  EXPECT_EQ(ack.ackPending, 0);
  second[40] = second[41] = 0;  // a row keeps 40 cells
  EXPECT_EQ(display40.frames(), (std::vector<Bytes>{first, second}));

  display40.PressRoutingKey(12);
  display40.PressFunctionKey(3);
  ASSERT_TRUE(HandleNextReport());
  ASSERT_TRUE(HandleNextReport());
  EXPECT_EQ(host.events, (Events{{"Routing", 12}, {"F3", 0}}));
  EXPECT_EQ(display40Server.reportsDeliveredTwice(), 0);
  EXPECT_EQ(display40.strayReports(), 0);
}

TEST_F(HidWine80, FoundBehindAWrongVersionItAnswersAndAcknowledges) {
  Configure({"wine", Entry(PipePath("old"), hid::kVendorId, hid::kProduct80, 0x0100),
             Entry(PipePath("decoy"), 0x04D8, 0x0001, hid::kVersion),
             Entry(PipePath("display80"), hid::kVendorId, hid::kProduct80, hid::kVersion, 9, 64)});
  ASSERT_EQ(link.FindHidDisplay(), kHid80);
  ASSERT_EQ(link.HidHandshake(), 1);
  EXPECT_EQ(shared.textCellCount.load(), 80);

  Bytes cells(82);
  for (size_t i = 0; i < cells.size(); ++i) cells[i] = static_cast<uint8_t>(i * 3);
  link.SendHidFrame80(cells.data());
  ASSERT_TRUE(HandleNextReport());
  EXPECT_EQ(ack.ackPending, 0);
  EXPECT_EQ(display80.frames(), (std::vector<Bytes>{cells}));
  // The display announces 64-byte output reports: every report is that long, zeros after
  // the ninth byte.
  for (const Bytes& report : display80.outputReports()) {
    ASSERT_EQ(report.size(), 64u);
    for (size_t i = 9; i < report.size(); ++i) ASSERT_EQ(report[i], 0);
  }

  display80.PressRoutingKey(79);
  ASSERT_TRUE(HandleNextReport());
  EXPECT_EQ(host.events, (Events{{"Routing", 79}}));
}

}  // namespace
}  // namespace zol::test
