#include <algorithm>

#include "bench_context.h"

namespace zol::bench {

OpenResult TimedOpen(BenchContext& bench, const char* port) {
  OpenResult result;
  const double cpu0 = ProcessCpuMs();
  const int64_t t0 = QpcNow();
  result.opened = bench.driver->Open(port, &bench.host, "", "");
  result.wallMs = QpcMs(QpcNow() - t0);
  if (result.wallMs > 0) result.cpuShare = (ProcessCpuMs() - cpu0) / result.wallMs;
  return result;
}

void MeasureIdleFloor(BenchContext& bench) {
  if (bench.idleProcessShare >= 0) return;
  const double cpu0 = ProcessCpuMs();
  const int64_t t0 = QpcNow();
  Pump(bench.n(3000, 1500));
  const double wall = QpcMs(QpcNow() - t0);
  bench.idleProcessShare = wall > 0 ? (ProcessCpuMs() - cpu0) / wall : 0;
}

void AddOpenCpuFigure(BenchContext& bench, const OpenResult& open, const char* what, bool mustOpen,
                      const std::string& noteTail) {
  Measured m;
  m.floor = 100 * std::max(0.0, bench.idleProcessShare);
  m.value = 100 * open.cpuShare;
  m.holds = open.opened || !mustOpen;
  m.note = Format("Open took %.0f ms and returned %.0f", open.wallMs, open.opened) + noteTail;
  bench.report.Add(kOpenCpu, m, what);
}

}  // namespace zol::bench
