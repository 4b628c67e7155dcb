#include "bench_support.h"

// After windows.h:
#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <set>

#include "testing/device_dots.h"

namespace zol::bench {

int64_t QpcNow() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

double QpcFrequency() {
  static const double frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  return frequency;
}

double QpcMs(int64_t ticks) {
  return static_cast<double>(ticks) * 1000.0 / QpcFrequency();
}

int64_t QpcNs(int64_t ticks) {
  return static_cast<int64_t>(static_cast<double>(ticks) * 1e9 / QpcFrequency());
}

namespace {

double FileTimeMs(const FILETIME& t) {
  ULARGE_INTEGER v;
  v.LowPart = t.dwLowDateTime;
  v.HighPart = t.dwHighDateTime;
  return static_cast<double>(v.QuadPart) / 10000.0;
}

}  // namespace

double ProcessCpuMs() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  return FileTimeMs(kernel) + FileTimeMs(user);
}

double ThreadCpuMs(HANDLE thread) {
  FILETIME created, exited, kernel, user;
  if (!GetThreadTimes(thread, &created, &exited, &kernel, &user)) return -1;
  return FileTimeMs(kernel) + FileTimeMs(user);
}

uint32_t NextRandom(uint32_t& state) {
  state = state * 1664525u + 1013904223u;
  return state >> 8;
}

double LoadAverage() {
  std::ifstream in("Z:\\proc\\loadavg");
  double load = -1;
  in >> load;
  return load;
}

namespace {

// Milliseconds of processor time stolen from this machine since it started, over all its
// processors; -1 where unknown.
double StolenMs() {
  std::ifstream in("Z:\\proc\\stat");
  std::string cpu;
  double ticks[8] = {};
  in >> cpu;
  for (double& value : ticks) in >> value;
  if (!in || cpu != "cpu") return -1;
  return ticks[7] * 10;  // USER_HZ is 100 on Linux
}

}  // namespace

StealWatch::StealWatch() : stop_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
  if (stop_ != nullptr && StolenMs() >= 0)
    thread_ = CreateThread(nullptr, 0, &StealWatch::Run, this, 0, nullptr);
}

StealWatch::~StealWatch() {
  Stop();
  if (stop_ != nullptr) CloseHandle(stop_);
}

void StealWatch::Stop() {
  if (thread_ == nullptr) return;
  SetEvent(stop_);
  WaitForSingleObject(thread_, INFINITE);
  CloseHandle(thread_);
  thread_ = nullptr;
}

DWORD WINAPI StealWatch::Run(void* self) {
  auto* watch = static_cast<StealWatch*>(self);
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  const double processors = info.dwNumberOfProcessors > 0 ? info.dwNumberOfProcessors : 1;
  constexpr size_t kWindow = 5;  // samples 100 ms apart: half a second
  struct Sample {
    int64_t at;
    double stolen;
  };
  std::vector<Sample> samples;
  const auto share = [&](const Sample& from, const Sample& to) {
    const double wall = QpcMs(to.at - from.at);
    return wall > 0 ? 100 * (to.stolen - from.stolen) / (wall * processors) : 0;
  };
  do {
    samples.push_back({QpcNow(), StolenMs()});
    if (samples.size() > kWindow)
      watch->peak_ =
          std::max(watch->peak_, share(samples[samples.size() - 1 - kWindow], samples.back()));
  } while (WaitForSingleObject(watch->stop_, 100) == WAIT_TIMEOUT);
  samples.push_back({QpcNow(), StolenMs()});
  watch->average_ = share(samples.front(), samples.back());
  if (watch->peak_ < 0) watch->peak_ = watch->average_;
  return 0;
}

std::vector<DWORD> ThreadIds() {
  std::vector<DWORD> ids;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return ids;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ids.push_back(entry.th32ThreadID);
  CloseHandle(snapshot);
  return ids;
}

HANDLE FindWorkerThread(const std::vector<DWORD>& before) {
  const std::set<DWORD> old(before.begin(), before.end());
  for (DWORD id : ThreadIds()) {
    if (old.count(id) != 0) continue;
    HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, id);
    if (thread == nullptr) continue;
    if (GetThreadPriority(thread) == THREAD_PRIORITY_ABOVE_NORMAL) return thread;
    CloseHandle(thread);
  }
  return nullptr;
}

// Wine reports no handle count and no private bytes: a handle leak shows instead in the value
// of a new handle (the lowest free slot, 4 apart), and private memory in the pagefile usage.
MemorySample SampleMemory() {
  MemorySample sample;
  if (!GetProcessHandleCount(GetCurrentProcess(), &sample.handles) || sample.handles == 0) {
    HANDLE probe = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    sample.handles = static_cast<DWORD>(reinterpret_cast<uintptr_t>(probe) / 4);
    CloseHandle(probe);
  }
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof counters;
  if (GetProcessMemoryInfo(GetCurrentProcess(),
                           reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters))
    sample.privateKiB = static_cast<double>(counters.PrivateUsage != 0 ? counters.PrivateUsage
                                                                       : counters.PagefileUsage) /
                        1024.0;
  return sample;
}

std::string Format(const char* format, double a, double b, double c) {
  char text[256];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}

int32_t BenchHost::OnKeyEvent(IBrailleDriver*, const char* name, int32_t value) {
  keys.push_back({QpcNow(), name != nullptr ? name : "", value});
  return 1;
}

std::vector<uint8_t> Pattern(uint32_t i) {
  std::vector<uint8_t> dots(40);
  for (size_t c = 0; c < dots.size(); ++c)
    dots[c] = static_cast<uint8_t>((i * 7 + c * 3 + 1) & 0x3F);
  dots[0] = static_cast<uint8_t>(i & 0xFF);
  dots[1] = static_cast<uint8_t>((i >> 8) & 0xFF);
  dots[2] = static_cast<uint8_t>((i >> 16) & 0xFF);
  dots[3] = static_cast<uint8_t>((i >> 24) & 0xFF);
  return dots;
}

int64_t PatternIndex(const uint8_t* deviceCells, size_t count) {
  const std::array<uint8_t, 256>& toHost = testing::kDeviceToHostDots;
  if (count < 40) return -1;
  uint32_t i = 0;
  for (int c = 3; c >= 0; --c) i = i << 8 | toHost[deviceCells[c]];
  const std::vector<uint8_t> expected = Pattern(i);
  for (size_t c = 4; c < expected.size(); ++c)
    if (toHost[deviceCells[c]] != expected[c]) return -1;
  return i;
}

}  // namespace zol::bench
