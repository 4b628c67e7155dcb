// zol.dll on the HID link of an ordinary PC, through the strict test-only HID stack: thirty
// foreign interfaces around the display, input buffers of 32 reports per handle, surprise
// removal, output that stops being taken. The bounds are loose (real time on a shared
// machine); the benchmark's hidpc group measures the same figures.
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "hid/hid_reports.h"
#include "hid_pipe_server.h"
#include "hid_population.h"
#include "platform/win32/win32_clock.h"
#include "sim/hid_display.h"

namespace zol::e2e {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr char kUsbIds[] = "vid_04d8&pid_abd7";
constexpr char kBluetoothIds[] = "{00001124-0000-1000-8000-00805f9b34fb}_vid&000204d8_pid&abd7";

class HidStrict : public ::testing::Test {
 protected:
  // The display behind Wine's own interfaces and thirty foreign ones, and the driver loaded.
  void Serve(const char* ids) {
    pc = std::make_unique<sim::HidPc>(
        30, ids, display, sim::HidPc::Ids{hid::kVendorId, hid::kProduct40, hid::kVersion});
    ASSERT_TRUE(pc->Start());
    dll = std::make_unique<LoadedDriver>();
    ASSERT_TRUE(dll->ok());
  }
  void TearDown() override {
    if (pc != nullptr) pc->display().StallOutput(false);  // lets a stuck write end
    dll.reset();
    pc.reset();
  }

  bool Open() { return CDriverOpen(dll->driver, "COM250", dll->host, "", "") == 1; }
  // The display on USB, the driver open and cells written and shown.
  void OpenShowing(const Bytes& cells) {
    Serve(kUsbIds);
    ASSERT_TRUE(Open());
    ASSERT_TRUE(Write(cells));
    ASSERT_TRUE(Shows(cells, 5000));
  }
  bool Write(const Bytes& cells) {
    return CDriverWriteTextCells(dll->driver, cells.data(), 40) != 0;
  }
  bool Shows(const Bytes& cells, DWORD limitMs) {
    return PumpUntil(
        [&] {
          const auto frames = display.frames();
          return !frames.empty() && frames.back() == DeviceCells(cells, 42);
        },
        limitMs);
  }
  DWORD TimedClose() {
    const DWORD start = GetTickCount();
    CDriverClose(dll->driver);
    return GetTickCount() - start;
  }

  win32::Win32Clock clock;
  sim::HidDisplay display{clock, sim::HidDisplay::Model40()};
  std::unique_ptr<sim::HidPc> pc;
  std::unique_ptr<LoadedDriver> dll;
};

TEST_F(HidStrict, OpensBehindThirtyForeignInterfaces) {
  Serve(kUsbIds);
  const DWORD start = GetTickCount();
  ASSERT_TRUE(Open());
  const DWORD openMs = GetTickCount() - start;
  // Settling 1000 + one search step per examined interface 300 + handshake, with room.
  EXPECT_LT(openMs, 3500u);
}

// Idle: no frame awaits an acknowledgement, so only the failing I/O tells of the removal.
TEST_F(HidStrict, UnpluggedIdleDisplayComesBackAndCloseStaysPrompt) {
  const Bytes last = HostCells(40, 0x31);
  ASSERT_NO_FATAL_FAILURE(OpenShowing(last));

  pc->display().Stop();
  Pump(2000);
  display.ClearRecords();
  ASSERT_TRUE(pc->Replug());
  Pump(1000);
  display.PressRoutingKey(7);
  const bool arrived = PumpUntil([&] { return FindKey(dll->host, "Routing") >= 0; }, 4000);
  EXPECT_TRUE(arrived);
  EXPECT_TRUE(Shows(last, 2000)) << "the last cells are shown again";

  // Gone again, and the host writes once more before it falls idle: every driver knows the
  // display is lost by now and searches for it.
  pc->display().Stop();
  Write(HostCells(40, 0x41));
  Pump(2500);
  const DWORD closeMs = TimedClose();
  EXPECT_LT(closeMs, 1500u);
}

// On a Bluetooth-style path, which does not carry the ids in the USB form.
TEST_F(HidStrict, SixtyKeysAtOnceAllArriveInOrderWithoutReconnect) {
  Serve(kBluetoothIds);
  ASSERT_TRUE(Open());
  for (bool hostWrites : {false, true}) {
    SCOPED_TRACE(hostWrites ? "host writing 5 frames a second" : "host idle");
    const int opens = pc->display().connectionsAccepted();
    const int before = CHostKeyCount(dll->host);
    for (int i = 0; i < 60; ++i) display.PressRoutingKey(static_cast<uint8_t>(i % 40));
    const DWORD start = GetTickCount();
    uint8_t frame = 0;
    DWORD nextWrite = start;
    // Two seconds more than the keys need, for a reconnect to show.
    PumpUntil(
        [&] {
          if (hostWrites && GetTickCount() >= nextWrite) {
            Write(HostCells(40, ++frame));
            nextWrite += 200;
          }
          return CHostKeyCount(dll->host) - before >= 60 && GetTickCount() - start > 2000;
        },
        8000);
    std::vector<int> values, expected;
    for (int i = before; i < CHostKeyCount(dll->host); ++i)
      if (std::string(CHostKeyName(dll->host, i)) == "Routing")
        values.push_back(CHostKeyValue(dll->host, i));
    for (int i = 0; i < 60; ++i) expected.push_back(i % 40);
    EXPECT_EQ(values, expected);
    EXPECT_EQ(pc->display().connectionsAccepted(), opens) << "no reconnect";
    if (hostWrites) {
      EXPECT_TRUE(Shows(HostCells(40, frame), 3000));
    }
  }
}

TEST_F(HidStrict, OutputThatStopsBeingTakenDoesNotHoldClose) {
  const Bytes first = HostCells(40, 0x51);
  ASSERT_NO_FATAL_FAILURE(OpenShowing(first));
  pc->display().StallOutput(true);
  Write(HostCells(40, 0x61));
  Pump(1500);
  // A driver whose write never returns is let go by unplugging the display after 10 s.
  DWORD closeMs = 0;
  pc->RunOrUnplug([&] { closeMs = TimedClose(); }, 10000);
  EXPECT_LT(closeMs, 4000u);
}

}  // namespace
}  // namespace zol::e2e
