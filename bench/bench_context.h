// What the groups of the benchmark share: the options, the report, and the driver under test
// with its host. Each group (hid_group.cpp, serial_group.cpp, hidpc_group.cpp) opens and closes
// the driver itself and adds its figures to the report; bench_main.cpp lists the groups.
#pragma once

#include <string>

#include "bench_stats.h"
#include "bench_support.h"
#include "zol/braille_driver.h"

namespace zol::bench {

struct Options {
  bool quick = false;
  bool smoke = false;  // only checks that everything runs: few samples, short scenarios
  std::string zolPath;
  std::string jsonPath = "bench.json";
  std::string groups;      // comma-separated names; empty for the default set
  std::string keepSimLog;  // where to copy the serial display's log at the end
  std::string nameOfRun;   // printed and written to the JSON, e.g. "before"
};

struct BenchContext {
  Options options;
  Report report;
  IBrailleDriver* driver = nullptr;
  BenchHost host;
  QpcClock clock;
  // CPU share of this process with the simulated displays running and no driver open: the
  // floor of the CPU figures; negative until a group measured it.
  double idleProcessShare = -1;

  // A count or duration by mode: full, quick, and a quarter of quick (at least 3) in smoke.
  int n(int full, int quick) const {
    if (options.smoke) return quick / 4 > 3 ? quick / 4 : 3;
    return options.quick ? quick : full;
  }
};

struct OpenResult {
  int32_t opened = 0;
  double wallMs = 0;
  double cpuShare = 0;  // of the process, over the call
};
// Opens the driver on port with the bench's host, timing the call.
OpenResult TimedOpen(BenchContext& bench, const char* port);
// Measures idleProcessShare unless done already.
void MeasureIdleFloor(BenchContext& bench);
// Adds "CPU during Open, <what>"; a failed Open misses the target when mustOpen.
void AddOpenCpuFigure(BenchContext& bench, const OpenResult& open, const char* what, bool mustOpen,
                      const std::string& noteTail = "");

// The groups.
void RunHidGroup(BenchContext& bench);
void RunSerialGroup(BenchContext& bench);
void RunHidPcGroup(BenchContext& bench);

}  // namespace zol::bench
