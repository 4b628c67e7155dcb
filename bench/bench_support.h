// What every group of the benchmark uses: the performance counter, message pumps that keep
// key events flowing to the host, CPU and memory readings of this process, the host that
// records key events, and the host patterns every write carries.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/clock.h"
#include "testing/message_pump.h"
#include "zol/braille_driver.h"

namespace zol::bench {

// ---- time ----------------------------------------------------------------------------------

int64_t QpcNow();
double QpcFrequency();
double QpcMs(int64_t ticks);
// Nanoseconds of the counter: on the same scale as the simulated serial display's stamps once
// the serial group has checked which Linux clock the counter follows.
int64_t QpcNs(int64_t ticks);

// The simulated displays' clock: milliseconds on the performance counter.
class QpcClock : public Clock {
 public:
  uint32_t Now() override { return static_cast<uint32_t>(QpcMs(QpcNow())); }
  void Sleep(uint32_t ms) override { ::Sleep(ms); }
};

double ProcessCpuMs();
double ThreadCpuMs(HANDLE thread);  // -1 when the thread cannot be read

// ---- message pumps ----------------------------------------------------------------------------

// Key events reach the host this way (testing/message_pump.h).
using testing::DispatchWaiting;
using testing::Pump;
using testing::PumpUntil;

uint32_t NextRandom(uint32_t& state);

// ---- the process ------------------------------------------------------------------------------

double LoadAverage();
// The share of the machine's processor time that its hypervisor gave to others (Linux's steal
// time, read through Wine's drive Z:), from construction to Stop: on average, and at its peak
// over any half second (sampled every 100 ms on a thread of its own). A stall of the whole
// machine shows here, not in any thread's CPU time. Both are -1 where unknown.
class StealWatch {
 public:
  StealWatch();
  ~StealWatch();
  StealWatch(const StealWatch&) = delete;
  StealWatch& operator=(const StealWatch&) = delete;
  void Stop();
  double averagePercent() const { return average_; }
  double peakPercent() const { return peak_; }

 private:
  HANDLE stop_;
  HANDLE thread_ = nullptr;
  double average_ = -1;
  double peak_ = -1;
  static DWORD WINAPI Run(void* self);
};
std::vector<DWORD> ThreadIds();
// The driver's worker thread: a thread started since before was taken, at above-normal
// priority; null when none is found.
HANDLE FindWorkerThread(const std::vector<DWORD>& before);

struct MemorySample {
  DWORD handles = 0;
  double privateKiB = 0;
};
MemorySample SampleMemory();

std::string Format(const char* format, double a, double b = 0, double c = 0);

// ---- the host -----------------------------------------------------------------------------------

struct KeyEvent {
  int64_t at = 0;  // performance counter
  std::string name;
  int32_t value = 0;
};

class BenchHost : public IBrailleHost {
 public:
  int32_t OnKeyEvent(IBrailleDriver*, const char* name, int32_t value) override;
  int32_t OnDeviceData(IBrailleDriver*, const uint8_t*, int32_t) override { return 1; }
  std::vector<KeyEvent> keys;  // touched on this program's main thread only
};

// ---- host patterns --------------------------------------------------------------------------

// Host pattern i of a series: 40 cells that differ from the patterns before and after; the
// first four cells carry i itself.
std::vector<uint8_t> Pattern(uint32_t i);
// The i of a frame the display received (device dots, first cell first), -1 when the frame
// is no pattern.
int64_t PatternIndex(const uint8_t* deviceCells, size_t count);

}  // namespace zol::bench
