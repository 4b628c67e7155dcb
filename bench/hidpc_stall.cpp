// A display that stops taking output reports: Close must return within 2 s, and the worker
// thread must never be held longer than the write limit (1000 ms), which worker_probe.h
// measures.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "hidpc_group.h"

namespace zol::bench {

// One session: the display takes output, then stops while the host writes; closeAfterMs later
// the host closes the driver. With probe, the worker thread is probed for 1 s before the stall
// and until the Close.
HidPcGroup::Stall HidPcGroup::StallSession(double closeAfterMs, bool probe) {
  Stall stall;
  HidPcSetup setup(bench_.clock, kForeign, kUsbDisplayIds);
  if (!setup.pc.Start()) return stall;
  const std::vector<DWORD> threads = ThreadIds();
  if (!Open(setup).result.opened) {
    std::fprintf(stderr, "zol_bench: Open failed before the output stall\n");
    return stall;
  }
  stall.opened = true;
  HANDLE worker = FindWorkerThread(threads);
  WriteShown(setup, 15001, 5000);
  {
    WorkerProbe probes(probe ? worker : nullptr);
    if (probes.ok()) stall.before = probes.Measure(1000);
    setup.pc.display().StallOutput(true);
    const std::vector<uint8_t> dots = Pattern(15002);
    driver_->WriteTextCells(dots.data(), static_cast<int32_t>(dots.size()));
    if (probes.ok()) {
      stall.during = probes.Measure(closeAfterMs);
    } else {
      Pump(closeAfterMs);
    }
  }
  if (worker != nullptr) CloseHandle(worker);
  // A driver whose write never returns is let go by unplugging the display after 10 s.
  stall.unplugged = setup.pc.RunOrUnplug(
      [&] {
        const int64_t t0 = QpcNow();
        driver_->Close();
        stall.closeMs = QpcMs(QpcNow() - t0);
      },
      10000);
  return stall;
}

void HidPcGroup::OutputStall() {
  // Long enough for the write limit, the loss, a search that finds the display again and its
  // next write that is not taken either.
  constexpr double kProbedMs = 4000;
  // Just after the write that is not taken: the worker thread has all of it still to wait.
  constexpr double kEarlyMs = 20;
  const Stall probed = StallSession(kProbedMs, true);
  const Stall early = StallSession(kEarlyMs, false);

  Measured w;
  w.floor = probed.before.longestMs;
  w.value = probed.during.longestMs;
  w.available = probed.during.longestMs >= 0;
  w.note =
      probed.during.longestMs < 0
          ? "no message hook on the worker thread"
          : std::string(
                "the longest wait of a probe posted to the worker thread (one at a "
                "time, 5 ms apart) over the 4 s after the write that is not taken") +
                (probed.during.stillWaiting ? " (at least: that probe was still waiting at the end)"
                                            : "") +
                "; floor: the same over 1 s before the stall";
  bench_.report.Add(kStallWorkerHeld, w);

  auto describe = [](const Stall& stall, double afterMs) {
    if (!stall.opened) return Format("%.0f ms after the write: Open failed", afterMs);
    return Format("%.0f ms after the write: %.0f ms", afterMs, stall.closeMs) +
           (stall.unplugged ? " (returned only once the display was unplugged, 10 s into it)" : "");
  };
  Measured c;
  c.value = std::max(probed.closeMs, early.closeMs);
  c.holds = probed.opened && early.opened && !probed.unplugged && !early.unplugged;
  c.note = "the longer of two Close calls, " + describe(early, kEarlyMs) + "; " +
           describe(probed, kProbedMs);
  bench_.report.Add(kStallClose, c);
}

}  // namespace zol::bench
