// The shipped Win32HidBus under Wine, with the test-only hid.dll and setupapi.dll in the system
// directory, finding and driving simulated displays that are served as named pipes on a thread
// of this program.
#include <gtest/gtest.h>
#include <windows.h>

extern "C" {
#include <hidsdi.h>
}

#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/shared_state.h"
#include "hid/hid_link.h"
#include "hid/hid_reports.h"
#include "hid_pipe_server.h"
#include "hid_population.h"
#include "input/input_translator.h"
#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_hid_api.h"
#include "platform/win32/win32_hid_bus.h"
#include "sim/hid_display.h"
#include "testing/input_recorders.h"
#include "testing/message_pump.h"
#include "testing/null_key_injector.h"

namespace zol::test {
namespace {

using Bytes = std::vector<uint8_t>;
using Events = std::vector<testing::KeyEvent>;

constexpr DWORD kGenerousMs = 10000;

// Waits for a condition that another thread makes true.
bool Eventually(const std::function<bool()>& condition, double limitMs = kGenerousMs) {
  return testing::WaitUntil(condition, limitMs);
}

std::string PipePath(const char* name) {
  return sim::HidPipeServer::PipePath(std::string("hidsim-") + name);
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
    sim::SetHidSimDevices({"wine"});
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
  testing::RecordingHostLink host;
  testing::NullKeyInjector injector;
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

HMODULE ModuleOf(const void* address) {
  HMODULE module = nullptr;
  GetModuleHandleExA(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      static_cast<LPCSTR>(address), &module);
  return module;
}

// The system directory's hid.dll (first) and setupapi.dll, as the bus uses them.
std::pair<HMODULE, HMODULE> SystemHidModules() {
  const win32::HidApi* api = win32::SystemHidApi();
  if (api == nullptr) return {};
  return {ModuleOf(reinterpret_cast<const void*>(api->getAttributes)),
          ModuleOf(reinterpret_cast<const void*>(api->getClassDevs))};
}

TEST_F(HidWineFakes, TheBusUsesTheTestDllsOfTheSystemDirectory) {
  const auto [hid, setupapi] = SystemHidModules();
  ASSERT_NE(hid, nullptr);
  ASSERT_NE(setupapi, nullptr);
  char system[MAX_PATH] = {};
  GetSystemDirectoryA(system, sizeof system);
  EXPECT_STRCASEEQ(ModuleDirectory(hid).c_str(), system);
  EXPECT_STRCASEEQ(ModuleDirectory(setupapi).c_str(), system);
  // Wine's own have these; the test DLLs have only what the driver calls.
  EXPECT_EQ(GetProcAddress(hid, "HidD_GetInputReport"), nullptr);
  EXPECT_EQ(GetProcAddress(setupapi, "SetupDiGetClassDevsW"), nullptr);
}

TEST_F(HidWine40, FoundBehindOtherDevicesItAnswersAcknowledgesAndSendsKeys) {
  const size_t others = WineInterfaces().size() + 2;
  ASSERT_GE(others, 4u);
  sim::SetHidSimDevices(
      {"wine", sim::HidSimEntry(PipePath("decoy"), 0x1234, 0x5678, 0x0100),
       sim::HidSimEntry(PipePath("old"), hid::kVendorId, hid::kProduct40, 0xF0FF),
       sim::HidSimEntry(PipePath("display40"), hid::kVendorId, hid::kProduct40, hid::kVersion),
       sim::HidSimEntry(PipePath("display80"), hid::kVendorId, hid::kProduct80, hid::kVersion)});
  const DWORD start = GetTickCount();
  ASSERT_EQ(link.FindHidDisplay(), kHid40);
  const DWORD took = GetTickCount() - start;
  EXPECT_GE(took, 300u) << "300 ms before the display is opened";
  EXPECT_LT(took, 300u * others) << "no wait for an interface that is not the display";
  // The servers learn of opens and closes a moment later.
  EXPECT_TRUE(Eventually([&] {
    return display40Server.connectionsOpen() == 2 &&  // the write and the read channel
           decoyServer.connectionsAccepted() == 1 && decoyServer.connectionsOpen() == 0 &&
           wrongVersionServer.connectionsAccepted() == 1 &&
           wrongVersionServer.connectionsOpen() == 0;
  })) << "a device that is not the display is opened once, for its attributes, and closed again";
  EXPECT_EQ(display40Server.connectionsAccepted(), 3);
  EXPECT_EQ(display80Server.connectionsAccepted(), 0);

  ASSERT_EQ(link.HidHandshake(), 1);
  EXPECT_EQ(shared.textCellCount.load(), 40);
  EXPECT_EQ(shared.statusCellCount.load(), 0);

  // Nothing waiting: no report, and the read left outstanding swallows nothing sent afterwards.
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
  link.SendNextQueuedFrame(kHid40);
  ASSERT_TRUE(HandleNextReport());
  EXPECT_EQ(ack.ackPending, 0);
  second[40] = second[41] = 0;  // a row keeps 40 cells
  EXPECT_EQ(display40.frames(), (std::vector<Bytes>{first, second}));

  display40.PressRoutingKey(12);
  display40.PressFunctionKey(3);
  ASSERT_TRUE(HandleNextReport());
  ASSERT_TRUE(HandleNextReport());
  EXPECT_EQ(host.events, (Events{{"Routing", 12}, {"F3", 0}}));
  EXPECT_EQ(display40.strayReports(), 0);
}

TEST_F(HidWine80, FoundBehindAWrongVersionItAnswersAndAcknowledges) {
  sim::SetHidSimDevices({"wine",
                         sim::HidSimEntry(PipePath("old"), hid::kVendorId, hid::kProduct80, 0x0100),
                         sim::HidSimEntry(PipePath("decoy"), 0x04D8, 0x0001, hid::kVersion),
                         sim::HidSimEntry(PipePath("display80"), hid::kVendorId, hid::kProduct80,
                                          hid::kVersion, 9, 64)});
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

// One overlapped read or write on a raw handle, as the driver starts them.
class Io {
 public:
  Io(HANDLE file, bool write, Bytes data = Bytes(9)) : file_(file), data_(std::move(data)) {
    overlapped_.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const DWORD length = static_cast<DWORD>(data_.size());
    const BOOL done = write ? WriteFile(file_, data_.data(), length, nullptr, &overlapped_)
                            : ReadFile(file_, data_.data(), length, nullptr, &overlapped_);
    started_ = done || GetLastError() == ERROR_IO_PENDING;
    if (!started_) error_ = GetLastError();
  }
  ~Io() {
    Cancel();
    CloseHandle(overlapped_.hEvent);
  }
  // ERROR_SUCCESS once complete, ERROR_IO_PENDING while not within ms, or the I/O's error.
  DWORD Wait(DWORD ms) {
    if (!started_) return error_;
    if (WaitForSingleObject(overlapped_.hEvent, ms) != WAIT_OBJECT_0) return ERROR_IO_PENDING;
    DWORD transferred = 0;
    return GetOverlappedResult(file_, &overlapped_, &transferred, FALSE) ? ERROR_SUCCESS
                                                                         : GetLastError();
  }
  DWORD Cancel() {
    if (!started_) return error_;
    CancelIoEx(file_, &overlapped_);
    DWORD transferred = 0;
    const DWORD result = GetOverlappedResult(file_, &overlapped_, &transferred, TRUE)
                             ? ERROR_SUCCESS
                             : GetLastError();
    started_ = false;
    error_ = result;
    return result;
  }
  const Bytes& data() const { return data_; }

 private:
  HANDLE file_;
  Bytes data_;
  OVERLAPPED overlapped_{};
  bool started_ = false;
  DWORD error_ = ERROR_SUCCESS;
};

HANDLE OpenRaw(const std::string& path, DWORD access = GENERIC_READ | GENERIC_WRITE) {
  return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
}

// The routing key codes of the reports that arrive on file, one read at a time, until none
// comes within 300 ms.
std::vector<int> RoutingKeysRead(HANDLE file) {
  std::vector<int> codes;
  for (;;) {
    Io read(file, false);
    if (read.Wait(300) != ERROR_SUCCESS) return codes;
    codes.push_back(read.data()[2]);
  }
}

std::vector<int> Range(int from, int to) {
  std::vector<int> values;
  for (int i = from; i < to; ++i) values.push_back(i);
  return values;
}

// Input buffers per handle as hidclass keeps them: a ring of 32 that drops its oldest report,
// resized by HidD_SetNumInputBuffers within the documented 2..512; and output that stops
// being taken.
TEST_F(HidWineFakes, EveryHandleHasItsOwnInputRingAndWritesCanStall) {
  // A display of its own: the fixture's servers take what display40 sends.
  sim::HidDisplay display{clock, sim::HidDisplay::Model40()};
  sim::HidPipeServer server(sim::HidPipeServer::InterfacePath("vid_04d8&pid_abd7"), display);
  ASSERT_TRUE(server.Start());
  sim::SetHidSimDevices(
      {sim::HidSimEntry(server.path(), hid::kVendorId, hid::kProduct40, hid::kVersion)});
  const HANDLE big = OpenRaw(server.path());
  const HANDLE small = OpenRaw(server.path());
  ASSERT_NE(big, INVALID_HANDLE_VALUE);
  ASSERT_NE(small, INVALID_HANDLE_VALUE);
  ULONG count = 0;
  EXPECT_TRUE(HidD_SetNumInputBuffers(big, 512));
  for (ULONG invalid : {0ul, 1ul, 513ul}) {
    EXPECT_FALSE(HidD_SetNumInputBuffers(big, invalid)) << invalid;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << invalid;
  }
  EXPECT_TRUE(HidD_GetNumInputBuffers(big, &count));
  EXPECT_EQ(count, 512u);
  EXPECT_TRUE(HidD_GetNumInputBuffers(small, &count));
  EXPECT_EQ(count, 32u);

  ASSERT_TRUE(Eventually([&] { return server.connectionsOpen() == 2; }));
  for (int i = 0; i < 40; ++i) display.PressRoutingKey(static_cast<uint8_t>(i));
  ASSERT_TRUE(Eventually([&] { return server.reportsDropped() == 8; }));
  EXPECT_EQ(RoutingKeysRead(big), Range(0, 40));
  EXPECT_EQ(RoutingKeysRead(small), Range(8, 40)) << "the oldest 8 are dropped";

  const Bytes report = {0, 1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(Io(big, true, report).Wait(2000), static_cast<DWORD>(ERROR_SUCCESS));
  server.StallOutput(true);
  {
    Io stuck(big, true, report);
    EXPECT_EQ(stuck.Wait(300), static_cast<DWORD>(ERROR_IO_PENDING));
    EXPECT_TRUE(HidD_GetNumInputBuffers(small, &count)) << "hidclass still answers";
    EXPECT_EQ(stuck.Cancel(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
  }
  Io resumed(big, true, report);
  EXPECT_EQ(resumed.Wait(300), static_cast<DWORD>(ERROR_IO_PENDING));
  server.StallOutput(false);
  EXPECT_EQ(resumed.Wait(2000), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_TRUE(Eventually([&] { return display.outputReports().size() == 2; }));
  Sleep(100);
  EXPECT_EQ(display.outputReports().size(), 2u) << "the cancelled report never arrived";
  CloseHandle(big);
  CloseHandle(small);
}

// An ordinary PC's interfaces around the display, as the enumeration lists them; a display
// removed by surprise, then plugged in again as a new device instance.
TEST_F(HidWineFakes, ForeignInterfacesSurpriseRemovalAndReplug) {
  sim::ForeignHidInterfaces foreign(10);
  ASSERT_TRUE(foreign.Start());
  sim::HidDisplay model{clock, sim::HidDisplay::Model40()};
  sim::HidPipeServer display(sim::HidPipeServer::InterfacePath("vid_04d8&pid_abd7"), model);
  ASSERT_TRUE(display.Start());
  std::vector<std::string> entries = foreign.entries();
  entries.push_back(
      sim::HidSimEntry(display.path(), hid::kVendorId, hid::kProduct40, hid::kVersion));
  sim::SetHidSimDevices(entries);
  auto listed = [&] {
    std::vector<std::string> paths;
    EXPECT_TRUE(bus.BeginList());
    char path[1024];
    for (uint32_t i = 0; bus.PathAt(i, path, sizeof path); ++i) paths.push_back(path);
    bus.EndList();
    return paths;
  };
  const std::vector<std::string> paths = listed();
  ASSERT_EQ(paths.size(), 11u);
  int refused = 0;
  for (const std::string& path : paths) {
    const HANDLE none = OpenRaw(path, 0);
    ASSERT_NE(none, INVALID_HANDLE_VALUE) << path;
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof attributes;
    EXPECT_TRUE(HidD_GetAttributes(none, &attributes)) << path;
    EXPECT_NE(attributes.VendorID, 0) << path;
    CloseHandle(none);
    const HANDLE both = OpenRaw(path);
    if (both == INVALID_HANDLE_VALUE) {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << path;
      ++refused;
    } else {
      CloseHandle(both);
    }
  }
  EXPECT_EQ(refused, foreign.refusing());

  const std::string old = display.path();
  const HANDLE dead = OpenRaw(old);
  ASSERT_NE(dead, INVALID_HANDLE_VALUE);
  {
    Io pending(dead, false);
    display.Stop();
    EXPECT_NE(pending.Wait(1000), static_cast<DWORD>(ERROR_IO_PENDING)) << "fails at once";
    EXPECT_NE(pending.Wait(0), static_cast<DWORD>(ERROR_SUCCESS));
  }
  EXPECT_NE(Io(dead, true).Wait(1000), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(listed().size(), 10u) << "gone from the enumeration";

  ASSERT_TRUE(display.Replug());
  EXPECT_NE(display.path(), old);
  entries.back() = sim::HidSimEntry(display.path(), hid::kVendorId, hid::kProduct40, hid::kVersion);
  sim::SetHidSimDevices(entries);
  EXPECT_EQ(listed().back(), display.path());
  EXPECT_NE(Io(dead, false).Wait(1000), static_cast<DWORD>(ERROR_SUCCESS)) << "stays dead";
  EXPECT_EQ(OpenRaw(old), INVALID_HANDLE_VALUE);
  CloseHandle(dead);
  const HANDLE fresh = OpenRaw(display.path());
  ASSERT_NE(fresh, INVALID_HANDLE_VALUE);
  model.PressFunctionKey(2);
  Io read(fresh, false);
  EXPECT_EQ(read.Wait(2000), static_cast<DWORD>(ERROR_SUCCESS));
  CloseHandle(fresh);
}

}  // namespace
}  // namespace zol::test
