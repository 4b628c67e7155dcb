// The HID display on an ordinary PC: the simulated 40-cell display among Wine's own HID
// interfaces and thirty foreign ones (keyboards, mice, touchpads, consumer and vendor
// collections; sim/hid_pipe/hid_population.h), on the test-only stack made as strict as
// Windows: 32 input reports per handle unless the driver asks for more, keyboards and mice that
// refuse reading and writing, surprise removal, a device that stops taking output reports.
// Each scenario plugs in a PC of its own, opens the driver and closes it again. Parts: Open,
// unplug and replug (hidpc_group.cpp), bursts of keys (hidpc_keys.cpp), output that stops being
// taken (hidpc_stall.cpp).
//
// A driver that misses a target must not hold the run: every wait has a limit, and a Close
// that does not return is let go by unplugging the display.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "bench_context.h"
#include "hid/hid_reports.h"
#include "hid_population.h"
#include "sim/hid_display.h"
#include "worker_probe.h"

namespace zol::bench {

inline constexpr char kHidPcPort[] = "COM146";  // no serial port behind it
// The display's hardware ids in a path of the USB form, as Windows spells them.
inline constexpr char kUsbDisplayIds[] = "vid_04d8&pid_abd7";

// The display, noting when the first output report since Mark reached it: the handshake's
// request when the driver has just found it.
class FirstOutputStamp : public sim::HidEndpoint {
 public:
  explicit FirstOutputStamp(sim::HidDisplay& display) : display_(display) {}
  void Mark() { first_ = 0; }
  int64_t first() const { return first_; }  // performance counter, 0 for none yet

  void OnOutputReport(const uint8_t* report, size_t length) override;
  size_t PeekInput(uint8_t* report, size_t capacity) override {
    return display_.PeekInput(report, capacity);
  }
  void PopInput() override { display_.PopInput(); }

 private:
  sim::HidDisplay& display_;
  std::atomic<int64_t> first_{0};
};

// A PC of one scenario: the display among foreign interfaces, under a path of the USB form
// (which names the display's ids) or the Bluetooth form (which does not, as Windows spells it).
struct HidPcSetup {
  HidPcSetup(Clock& clock, int foreign, const char* hardwareIds)
      : display(clock, sim::HidDisplay::Model40()),
        stamp(display),
        pc(foreign, hardwareIds, stamp,
           sim::HidPc::Ids{hid::kVendorId, hid::kProduct40, hid::kVersion}) {}
  sim::HidDisplay display;
  FirstOutputStamp stamp;
  sim::HidPc pc;
};

class HidPcGroup {
 public:
  explicit HidPcGroup(BenchContext& bench) : bench_(bench) {}
  void Run();

 private:
  static constexpr int kForeign = 30;

  // hidpc_group.cpp
  struct Opened {
    OpenResult result;
    // From the display's first output report to the end of the call; -1 when none came.
    double handshakeMs = -1;
  };
  // Opens the driver on setup's PC, timed.
  Opened Open(HidPcSetup& setup);
  // The Open row; true when the driver is open.
  bool OpenAmongForeign(HidPcSetup& setup, const Opened& reference);
  void UnplugReplugThenClose(HidPcSetup& setup);
  // hidpc_keys.cpp
  void KeyBursts();
  // hidpc_stall.cpp
  struct Stall {
    bool opened = false;
    WorkerProbe::Waits before, during;  // -1 when not probed
    double closeMs = 0;
    bool unplugged = false;  // Close returned only once the display was unplugged
  };
  Stall StallSession(double closeAfterMs, bool probe);
  void OutputStall();

  // Writes host pattern i; true when the display showed it within limitMs.
  bool WriteShown(HidPcSetup& setup, uint32_t i, double limitMs);

  BenchContext& bench_;
  IBrailleDriver*& driver_ = bench_.driver;
};

}  // namespace zol::bench
