// zol_bench: times the shipped zol.dll under Wine against simulated displays, and times a bare
// program doing the same raw work in the same run (the floor), so that the load of the machine
// cancels out of the comparison.
//
// HID figures use a simulated display served as a named pipe on a thread of this program, so
// both ends are timed with QueryPerformanceCounter. Serial figures use the native
// serial_display_sim on a pty (run with --stamp): its log gives the time of every packet on
// CLOCK_MONOTONIC_RAW and CLOCK_MONOTONIC, and the clock that Wine's QueryPerformanceCounter
// follows is checked against the floor's own writes before any serial figure is computed.
//
//   zol_bench --zol PATH [--quick | --smoke] [--json PATH] [--serial COMn --sim-log PATH]
#include <windows.h>
// After windows.h:
#include <psapi.h>
#include <tlhelp32.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_stats.h"
#include "connection/dot_map.h"
#include "hid/hid_reports.h"
#include "hid_pipe_server.h"
#include "serial/serial_codec.h"
#include "sim/hid_display.h"
#include "zol/braille_driver.h"

namespace zol::bench {
namespace {

// ---- time ----------------------------------------------------------------------------------

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

// The simulated display's clock: milliseconds on the performance counter.
class QpcClock : public Clock {
 public:
  uint32_t Now() override { return static_cast<uint32_t>(QpcMs(QpcNow())); }
  void Sleep(uint32_t ms) override { ::Sleep(ms); }
};

double FileTimeMs(const FILETIME& t) {
  ULARGE_INTEGER v;
  v.LowPart = t.dwLowDateTime;
  v.HighPart = t.dwHighDateTime;
  return static_cast<double>(v.QuadPart) / 10000.0;
}

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

// Dispatches this thread's messages (key events reach the host this way) for ms.
void Pump(double ms) {
  const int64_t end = QpcNow() + static_cast<int64_t>(ms * QpcFrequency() / 1000.0);
  for (;;) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    const int64_t now = QpcNow();
    if (now >= end) return;
    const DWORD wait = static_cast<DWORD>(QpcMs(end - now)) + 1;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, wait, QS_ALLINPUT);
  }
}

// Pumps until condition holds or limitMs passed; the condition is tested every millisecond.
bool PumpUntil(const std::function<bool()>& condition, double limitMs) {
  const int64_t start = QpcNow();
  while (!condition()) {
    if (QpcMs(QpcNow() - start) > limitMs) return false;
    Pump(1);
  }
  return true;
}

uint32_t NextRandom(uint32_t& state) {
  state = state * 1664525u + 1013904223u;
  return state >> 8;
}

// ---- the host and the display ---------------------------------------------------------------

class BenchHost : public IBrailleHost {
 public:
  int32_t OnKeyEvent(IBrailleDriver*, const char*, int32_t) override {
    keyTimes.push_back(QpcNow());
    return 1;
  }
  int32_t OnDeviceData(IBrailleDriver*, const uint8_t*, int32_t) override { return 1; }
  std::vector<int64_t> keyTimes;  // touched on this program's main thread only
};

// Stands between the pipe server and the simulated display: notes when the last report of a
// display frame arrives, and can lose a share of the display's acknowledgements.
class StampedEndpoint : public sim::HidEndpoint {
 public:
  explicit StampedEndpoint(sim::HidDisplay& display) : display_(display) {}

  void OnOutputReport(const uint8_t* report, size_t length) override {
    display_.OnOutputReport(report, length);
    if (length >= hid::kReportBytes && report[6] == hid::kFrameTrailer[0] &&
        report[7] == hid::kFrameTrailer[1] && report[8] == hid::kFrameTrailer[2]) {
      frameEnd = QpcNow();
      ++framesEnded;
    }
  }
  size_t PeekInput(uint8_t* report, size_t capacity) override {
    for (;;) {
      const size_t length = display_.PeekInput(report, capacity);
      if (length == 0) return 0;
      const bool ack = length >= 2 && report[1] == 0xFF;
      if (ack && lossPercent.load() > 0 && NextRandom(random_) % 100 < uint32_t(lossPercent)) {
        display_.PopInput();
        ++acksLost;
        continue;
      }
      if (!ack) keyOffered = QpcNow();
      return length;
    }
  }
  void PopInput() override { display_.PopInput(); }

  std::atomic<int64_t> frameEnd{0};
  std::atomic<int> framesEnded{0};
  std::atomic<int64_t> keyOffered{0};
  std::atomic<int> lossPercent{0};
  std::atomic<int> acksLost{0};

 private:
  sim::HidDisplay& display_;
  uint32_t random_ = 12345;  // the server thread's only
};

std::string PipePath(const char* name) {
  return "\\\\.\\pipe\\zol-bench-" + std::to_string(GetCurrentProcessId()) + "-" + name;
}

void ConfigureHid(const std::vector<std::string>& paths, bool model40 = true) {
  std::string text;
  char numbers[64];
  std::snprintf(numbers, sizeof numbers, "|%x|%x|%x|9|9", hid::kVendorId,
                model40 ? hid::kProduct40 : hid::kProduct80, hid::kVersion);
  for (const std::string& path : paths) text += (text.empty() ? "" : ";") + path + numbers;
  SetEnvironmentVariableA("ZOL_HIDSIM_DEVICES", text.c_str());
}

// Host pattern i of a series: 40 cells that differ from the patterns before and after.
std::vector<uint8_t> Pattern(uint32_t i) {
  std::vector<uint8_t> dots(40);
  for (size_t c = 0; c < dots.size(); ++c)
    dots[c] = static_cast<uint8_t>((i * 7 + c * 3 + 1) & 0x3F);
  dots[0] = static_cast<uint8_t>(i & 0xFF);
  dots[1] = static_cast<uint8_t>((i >> 8) & 0xFF);
  return dots;
}

bool DisplayShows(const sim::HidDisplay& display, const std::vector<uint8_t>& dots) {
  const auto frames = display.frames();
  if (frames.empty()) return false;
  const std::vector<uint8_t>& last = frames.back();
  for (size_t c = 0; c < dots.size(); ++c)
    if (c >= last.size() || last[c] != MapDotsToDevice(dots[c])) return false;
  return true;
}

// The six reports of the frame the driver sends for dots on a 40-cell display.
std::vector<std::vector<uint8_t>> Frame40Reports(const std::vector<uint8_t>& dots) {
  uint8_t cells[hid::kFrame40Cells] = {};
  for (size_t c = 0; c < dots.size(); ++c) cells[c] = MapDotsToDevice(dots[c]);
  std::vector<std::vector<uint8_t>> reports;
  for (int i = 0; i < hid::FrameReportCount(hid::kFrame40Cells); ++i) {
    std::vector<uint8_t> report(hid::kReportBytes, 0);
    hid::FramePayload(cells, hid::kFrame40Cells, i, report.data() + 1);
    reports.push_back(report);
  }
  return reports;
}

double LoadAverage() {
  std::ifstream in("Z:\\proc\\loadavg");
  double load = -1;
  in >> load;
  return load;
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

// The driver's worker thread: a thread that Open started, at above-normal priority.
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

struct MemorySample {
  DWORD handles = 0;
  double privateKiB = 0;
};

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

std::string Format(const char* format, double a, double b = 0, double c = 0) {
  char text[256];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}

// ---- the benchmark --------------------------------------------------------------------------

struct Options {
  bool quick = false;
  bool smoke = false;  // only checks that everything runs: few samples, no silent handshake
  std::string zolPath;
  std::string jsonPath = "bench.json";
  std::string com;     // serial figures only with a port
  std::string simLog;  // the stamped log of serial_display_sim
};

class Bench {
 public:
  explicit Bench(const Options& options) : options_(options) {}
  int Run();

 private:
  int n(int full, int quick) const {
    if (options_.smoke) return quick / 4 > 3 ? quick / 4 : 3;
    return options_.quick ? quick : full;
  }
  bool LoadDriver();
  void IdleCpuFloor();
  void PostFloorAndWriteCallTime();
  void HidFrameFloor(std::vector<double>* floor);
  void HidKeyFloor(std::vector<double>* floor);
  void HidFigures();
  void HidLatencies(const std::vector<double>& frameFloor, const std::vector<double>& keyFloor);
  void IdleCpu();
  void ManyWritesWithLostAcks();
  void UnplugReplug();
  void SilentHandshake();
  void SerialFigures();

  double CpuShareDuring(const std::function<void()>& work, double* wallMs);
  // Opens the driver on port and reports the process's CPU share during Open as the figure
  // "CPU during Open, <what>"; a failed Open misses the target when mustOpen. Returns Open's
  // result.
  int32_t OpenMeasuringCpu(const char* port, const char* what, bool mustOpen,
                           const char* noteTail = "");

  Options options_;
  Report report_;
  HMODULE module_ = nullptr;
  IBrailleDriver* driver_ = nullptr;
  BenchHost host_;
  QpcClock clock_;
  HANDLE worker_ = nullptr;
  double idleProcessShare_ = 0;  // process CPU / wall with only the simulations running

  sim::HidDisplay display_{clock_, sim::HidDisplay::Model40()};
  StampedEndpoint endpoint_{display_};
  sim::HidPipeServer server_{PipePath("display40"), endpoint_};
};

bool Bench::LoadDriver() {
  module_ = LoadLibraryA(options_.zolPath.c_str());
  if (module_ == nullptr) {
    std::fprintf(stderr, "zol_bench: cannot load %s (error %lu)\n", options_.zolPath.c_str(),
                 GetLastError());
    return false;
  }
  auto get = reinterpret_cast<ZolGetBrailleInterfaceFn>(
      reinterpret_cast<void*>(GetProcAddress(module_, ZOL_ENTRY_POINT_NAME)));
  if (get == nullptr) return false;
  ZolDriver* raw = nullptr;
  get(&raw);
  driver_ = reinterpret_cast<IBrailleDriver*>(raw);
  return driver_ != nullptr;
}

double Bench::CpuShareDuring(const std::function<void()>& work, double* wallMs) {
  const double cpu0 = ProcessCpuMs();
  const int64_t t0 = QpcNow();
  work();
  const double wall = QpcMs(QpcNow() - t0);
  if (wallMs != nullptr) *wallMs = wall;
  return wall > 0 ? (ProcessCpuMs() - cpu0) / wall : 0;
}

// The process with the simulated displays running and no driver: the floor of every CPU figure.
void Bench::IdleCpuFloor() {
  idleProcessShare_ = CpuShareDuring([&] { Pump(n(3000, 1500)); }, nullptr);
}

void Bench::PostFloorAndWriteCallTime() {
  // Floor: copy the 40 bytes into a new payload and post it to a thread that frees it.
  std::atomic<DWORD> consumerId{0};
  std::thread consumer([&] {
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
    consumerId = GetCurrentThreadId();
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) delete[] reinterpret_cast<uint8_t*>(msg.lParam);
  });
  while (consumerId.load() == 0) Sleep(1);
  const int calls = n(5000, 1000);
  const std::vector<uint8_t> dots = Pattern(1);
  std::vector<double> floor, figure;
  for (int i = 0; i < calls; ++i) {
    const int64_t t0 = QpcNow();
    uint8_t* payload = new uint8_t[dots.size()];
    std::memcpy(payload, dots.data(), dots.size());
    PostThreadMessageA(consumerId, WM_USER + 7, dots.size(), reinterpret_cast<LPARAM>(payload));
    floor.push_back(QpcMs(QpcNow() - t0) * 1000.0);
    if (i % 50 == 49) Pump(1);
  }
  PostThreadMessageA(consumerId, WM_QUIT, 0, 0);
  consumer.join();

  for (int i = 0; i < calls; ++i) {
    const std::vector<uint8_t> pattern = Pattern(static_cast<uint32_t>(i));
    const int64_t t0 = QpcNow();
    driver_->WriteTextCells(pattern.data(), static_cast<int32_t>(pattern.size()));
    figure.push_back(QpcMs(QpcNow() - t0) * 1000.0);
    if (i % 50 == 49) Pump(1);
  }
  for (double q : {0.5, 0.99}) {
    Figure f;
    f.name = q == 0.5 ? "WriteTextCells call, median" : "WriteTextCells call, p99";
    f.unit = "us";
    f.floor = Quantile(floor, q);
    f.value = Quantile(figure, q);
    f.target = "<= 2x floor (new payload + PostThreadMessage)";
    f.met = f.value <= 2 * f.floor ? "yes" : "no";
    f.samples = calls;
    f.note = "HID 40 connected; back-to-back calls, a 1 ms pause every 50";
    report_.Add(f);
  }
  Pump(1500);  // let the worker drain the burst and the display acknowledge
}

// Floor: the same six reports written to the same pipe by a bare client.
void Bench::HidFrameFloor(std::vector<double>* floor) {
  HANDLE pipe = CreateFileA(server_.path().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (pipe == INVALID_HANDLE_VALUE) return;
  for (int i = 0; i < n(40, 15); ++i) {
    const auto reports = Frame40Reports(Pattern(1000 + i));
    const int before = endpoint_.framesEnded;
    const int64_t t0 = QpcNow();
    for (const auto& report : reports) {
      DWORD written = 0;
      WriteFile(pipe, report.data(), static_cast<DWORD>(report.size()), &written, nullptr);
    }
    if (PumpUntil([&] { return endpoint_.framesEnded > before; }, 2000))
      floor->push_back(QpcMs(endpoint_.frameEnd - t0));
    Pump(20);
  }
  CloseHandle(pipe);
}

// Floor: a bare client blocked in ReadFile on the same pipe gets the display's key report.
void Bench::HidKeyFloor(std::vector<double>* floor) {
  HANDLE pipe = CreateFileA(server_.path().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (pipe == INVALID_HANDLE_VALUE) return;
  const int keys = n(40, 15);
  std::atomic<int> got{0};
  std::atomic<int64_t> gotAt{0};
  std::thread reader([&] {
    uint8_t buffer[64];
    for (int i = 0; i < keys; ++i) {
      DWORD read = 0;
      if (!ReadFile(pipe, buffer, sizeof buffer, &read, nullptr)) break;
      gotAt = QpcNow();
      ++got;
    }
  });
  uint32_t random = 77;
  for (int i = 0; i < keys; ++i) {
    const int before = got;
    const int64_t t0 = QpcNow();
    display_.PressRoutingKey(static_cast<uint8_t>(i % 40));
    if (!PumpUntil([&] { return got > before; }, 2000)) break;
    floor->push_back(QpcMs(gotAt - t0));
    Pump(10 + NextRandom(random) % 40);
  }
  CancelIoEx(pipe, nullptr);
  reader.join();
  CloseHandle(pipe);
}

// How long a thread blocked in GetMessage takes to run after a post to it: the hop from the
// host's thread to the worker thread that every driver figure contains and no floor does.
std::vector<double> ThreadHops(int count) {
  std::atomic<DWORD> id{0};
  std::vector<double> hops;
  std::thread waiter([&] {
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
    id = GetCurrentThreadId();
    while (GetMessageA(&msg, nullptr, 0, 0) > 0)
      hops.push_back(QpcMs(QpcNow() - static_cast<int64_t>(msg.lParam)));
  });
  while (id.load() == 0) Sleep(1);
  for (int i = 0; i < count; ++i) {
    PostThreadMessageA(id, WM_USER + 9, 0, static_cast<LPARAM>(QpcNow()));
    Pump(20);
  }
  PostThreadMessageA(id, WM_QUIT, 0, 0);
  waiter.join();
  return hops;
}

void Bench::HidLatencies(const std::vector<double>& frameFloor,
                         const std::vector<double>& keyFloor) {
  // Host write to the last report of the frame at the display, with no frame awaiting its
  // acknowledgement: the display acknowledges at once and the next tick takes the ack.
  std::vector<double> frames;
  for (int i = 0; i < n(40, 15); ++i) {
    Pump(250);
    const std::vector<uint8_t> dots = Pattern(2000 + i);
    const int before = endpoint_.framesEnded;
    const int64_t t0 = QpcNow();
    driver_->WriteTextCells(dots.data(), static_cast<int32_t>(dots.size()));
    if (PumpUntil([&] { return endpoint_.framesEnded > before; }, 2000))
      frames.push_back(QpcMs(endpoint_.frameEnd - t0));
  }
  Figure f;
  f.name = "write -> last byte at display, HID, median";
  f.unit = "ms";
  f.floor = Quantile(frameFloor, 0.5);
  f.value = Quantile(frames, 0.5);
  f.target = "<= floor + 1 ms";
  f.met = frames.empty() || frameFloor.empty() ? "n/a" : f.value <= f.floor + 1 ? "yes" : "no";
  f.samples = static_cast<int>(frames.size());
  const std::vector<double> hops = ThreadHops(n(40, 15));
  f.note = "floor: the same 6 reports written to the same pipe by a bare client; p99 " +
           Format("%.3f ms (floor %.3f ms)", Quantile(frames, 0.99), Quantile(frameFloor, 0.99)) +
           Format(
               "; a bare post to a thread blocked in GetMessage takes %.3f ms (median) "
               "before that thread runs",
               Quantile(hops, 0.5));
  report_.Add(f);

  // Display key to OnKeyEvent on the host's thread.
  std::vector<double> keys;
  uint32_t random = 99;
  for (int i = 0; i < n(60, 20); ++i) {
    Pump(30 + NextRandom(random) % 140);  // presses fall anywhere in the tick
    const size_t before = host_.keyTimes.size();
    const int64_t t0 = QpcNow();
    display_.PressRoutingKey(static_cast<uint8_t>(i % 40));
    if (PumpUntil([&] { return host_.keyTimes.size() > before; }, 2000))
      keys.push_back(QpcMs(host_.keyTimes[before] - t0));
  }
  Figure k;
  k.name = "display key -> OnKeyEvent, HID, p99";
  k.unit = "ms";
  k.floor = Quantile(keyFloor, 0.99);
  k.value = Quantile(keys, 0.99);
  k.target = "<= 105 ms (one tick + 5 ms)";
  k.met = keys.empty() ? "n/a" : k.value <= 105 ? "yes" : "no";
  k.samples = static_cast<int>(keys.size());
  int over = 0;
  for (double latency : keys) over += latency > 105 ? 1 : 0;
  k.note = "floor: a bare client blocked in ReadFile on the same pipe; median " +
           Format("%.3f ms (floor %.3f ms), max %.3f ms, ", Quantile(keys, 0.5),
                  Quantile(keyFloor, 0.5), Quantile(keys, 1.0)) +
           Format("%.0f of %.0f over 105 ms", over, static_cast<double>(keys.size()));
  report_.Add(k);
}

void Bench::IdleCpu() {
  const double seconds = n(60, 10);
  // Floor: a bare thread with the same 100 ms timer and message loop, over the same minute.
  std::atomic<bool> stop{false};
  std::atomic<HANDLE> floorThread{nullptr};
  std::vector<double> tickIntervals;  // the bare thread's, read after it ended
  std::thread bare([&] {
    HANDLE self = nullptr;
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    floorThread = self;
    const UINT_PTR timer = SetTimer(nullptr, 0, 100, nullptr);
    MSG msg;
    int64_t last = 0;
    while (!stop && GetMessageA(&msg, nullptr, 0, 0) > 0) {
      if (msg.message == WM_TIMER) {
        const int64_t now = QpcNow();
        if (last != 0) tickIntervals.push_back(QpcMs(now - last));
        last = now;
      }
    }
    KillTimer(nullptr, timer);
  });
  while (floorThread.load() == nullptr) Sleep(1);
  const double floor0 = ThreadCpuMs(floorThread);
  const double worker0 = ThreadCpuMs(worker_);
  const double process0 = ProcessCpuMs();
  const int64_t t0 = QpcNow();
  Pump(seconds * 1000);
  const double wall = QpcMs(QpcNow() - t0);
  const double floor = ThreadCpuMs(floorThread) - floor0;
  const double worker = ThreadCpuMs(worker_) - worker0;
  const double process = ProcessCpuMs() - process0;
  stop = true;
  PostThreadMessageA(GetThreadId(floorThread), WM_NULL, 0, 0);
  bare.join();
  CloseHandle(floorThread);

  Figure f;
  f.name = "CPU, connected and idle, worker thread";
  f.unit = "% of a core";
  f.floor = 100 * floor / wall;
  f.value = 100 * worker / wall;
  f.target = "< 0.5 %";
  f.met = worker_ == nullptr ? "n/a" : f.value < 0.5 ? "yes" : "no";
  f.note = Format(
               "HID 40, %.0f s; whole process %.3f %% (simulated display's pipe thread "
               "included); thread times have 10 ms steps under Wine; ",
               wall / 1000, 100 * process / wall) +
           Format("the bare thread's 100 ms timer came up to %.1f ms late (p99), %.1f ms (max)",
                  Quantile(tickIntervals, 0.99) - 100, Quantile(tickIntervals, 1.0) - 100);
  report_.Add(f);
}

void Bench::ManyWritesWithLostAcks() {
  const int writes = n(100000, 10000);
  endpoint_.lossPercent = 10;
  Pump(200);
  std::vector<MemorySample> samples;
  samples.push_back(SampleMemory());
  int refused = 0;
  const int framesBefore = endpoint_.framesEnded;
  std::vector<uint8_t> dots;
  const int64_t t0 = QpcNow();
  for (int i = 0; i < writes; ++i) {
    dots = Pattern(static_cast<uint32_t>(i));
    if (!driver_->WriteTextCells(dots.data(), static_cast<int32_t>(dots.size()))) ++refused;
    if (i % 20 == 19) Pump(1);  // lets the poll ticks run: they come only when the queue is empty
    if (i % (writes / 10) == writes / 10 - 1) samples.push_back(SampleMemory());
  }
  const double postMs = QpcMs(QpcNow() - t0);
  // The last write must end up on the display, whichever acknowledgements were lost.
  const int64_t t1 = QpcNow();
  const bool shown = PumpUntil([&] { return DisplayShows(display_, dots); }, 15000);
  const double settleMs = QpcMs(QpcNow() - t1);
  Pump(3000);  // a reconnect after a lost last acknowledgement must not take it away again
  const bool stillShown = DisplayShows(display_, dots);
  endpoint_.lossPercent = 0;
  samples.push_back(SampleMemory());

  // Growth after the first tenth (warm-up: the message queue, the display's records).
  const MemorySample& warm = samples[1];
  const MemorySample& last = samples.back();
  Figure h;
  h.name = Format("%.0fk writes, 10%% acks lost: handle growth", writes / 1000.0);
  h.unit = "handles";
  h.floor = warm.handles;
  h.value = static_cast<double>(last.handles) - warm.handles;
  h.target = "flat (growth <= 2)";
  h.met = h.value <= 2 ? "yes" : "no";
  h.samples = writes;
  h.note = Format(
      "floor column: handles after the first tenth; %.0f writes refused, posting "
      "took %.0f ms",
      refused, postMs);
  report_.Add(h);

  Figure m;
  m.name = Format("%.0fk writes, 10%% acks lost: private memory growth", writes / 1000.0);
  m.unit = "KiB";
  m.floor = warm.privateKiB;
  m.value = last.privateKiB - warm.privateKiB;
  m.target = "flat (growth <= 1024 KiB)";
  m.met = m.value <= 1024 ? "yes" : "no";
  m.samples = writes;
  m.note =
      "floor column: private bytes after the first tenth; the simulated display keeps a "
      "record of every frame in this process, a few hundred bytes each";
  report_.Add(m);

  Figure s;
  s.name = Format("%.0fk writes, 10%% acks lost: last write shown", writes / 1000.0);
  s.unit = "ms to settle";
  s.value = settleMs;
  s.target = "display ends showing the last write";
  s.met = shown && stillShown ? "yes" : "no";
  s.samples = writes;
  s.note = Format(
               "%.0f frames reached the display (one in flight, later ones wait in the "
               "ring, and the ring keeps the newest), %.0f acknowledgements lost; ",
               endpoint_.framesEnded.load() - framesBefore, endpoint_.acksLost.load()) +
           "shown after the writes: " + (shown ? "yes" : "no") +
           ", still shown 3 s later: " + (stillShown ? "yes" : "no");
  report_.Add(s);
}

void Bench::UnplugReplug() {
  const std::vector<uint8_t> before = Pattern(50001);
  driver_->WriteTextCells(before.data(), 40);
  Pump(500);
  server_.Stop();  // unplugged: the driver's handles break
  Pump(100);
  const std::vector<uint8_t> latest = Pattern(50002);
  driver_->WriteTextCells(latest.data(), 40);            // the screen reader writes on meanwhile
  Pump(options_.quick || options_.smoke ? 2000 : 2500);  // past the 1 s acknowledgement time-out
  display_.ClearRecords();                               // a display that comes back shows nothing
  display_.ClearInput();
  const int64_t back = QpcNow();
  server_.Start();
  const bool shown = PumpUntil([&] { return DisplayShows(display_, latest); }, 10000);
  const double ms = QpcMs(endpoint_.frameEnd - back);
  Figure f;
  f.name = "HID unplug -> replug: last contents back";
  f.unit = "ms";
  f.value = shown ? ms : -1;
  f.target = "<= 700 ms (one tick 100 + one search 2 x 300)";
  f.met = shown && ms <= 700 ? "yes" : "no";
  f.note = shown ? "from the device's return to the last report of the frame"
                 : "the display did not show the last write within 10 s";
  report_.Add(f);
}

int32_t Bench::OpenMeasuringCpu(const char* port, const char* what, bool mustOpen,
                                const char* noteTail) {
  double wall = 0;
  int32_t opened = 0;
  const double share = CpuShareDuring([&] { opened = driver_->Open(port, &host_, "", ""); }, &wall);
  Figure f;
  f.name = std::string("CPU during Open, ") + what;
  f.unit = "% of wall";
  f.floor = 100 * idleProcessShare_;
  f.value = 100 * share;
  f.target = "< 5 % (waits must not spin)";
  f.met = (opened || !mustOpen) && f.value < 5 ? "yes" : "no";
  f.note = Format("Open took %.0f ms and returned %.0f", wall, opened) + noteTail;
  report_.Add(f);
  return opened;
}

void Bench::SilentHandshake() {
  sim::HidDisplayConfig config = sim::HidDisplay::Model40();
  config.replies = false;
  config.ack = sim::AckPolicy::None;
  sim::HidDisplay silent(clock_, config);
  sim::HidPipeServer server(PipePath("silent"), silent);
  if (!server.Start()) return;
  ConfigureHid({server.path()});
  const int32_t opened = OpenMeasuringCpu(
      "COM146", "silent HID handshake", false,
      " (no serial port behind it); whole process, floor = the process idle with the "
      "simulations running");
  if (opened) driver_->Close();
  server.Stop();
}

void Bench::HidFigures() {
  if (!server_.Start()) {
    std::fprintf(stderr, "zol_bench: cannot serve %s\n", server_.path().c_str());
    return;
  }
  ConfigureHid({server_.path()});
  IdleCpuFloor();
  std::vector<double> frameFloor, keyFloor;
  HidFrameFloor(&frameFloor);
  HidKeyFloor(&keyFloor);
  Pump(200);
  display_.ClearInput();  // the floor's acknowledgements
  display_.ClearRecords();

  const std::vector<DWORD> threads = ThreadIds();
  if (!OpenMeasuringCpu("COM146", "HID", true)) return;
  worker_ = FindWorkerThread(threads);

  HidLatencies(frameFloor, keyFloor);
  PostFloorAndWriteCallTime();
  IdleCpu();
  ManyWritesWithLostAcks();
  UnplugReplug();
  driver_->Close();
  if (worker_ != nullptr) CloseHandle(worker_);
  worker_ = nullptr;
  server_.Stop();
}

// ---- serial ---------------------------------------------------------------------------------

struct StampedLine {
  int64_t raw = 0;
  int64_t mono = 0;
  std::string text;  // "rx CELLS ..." or "tx ROUTING_KEY ..."
};

std::vector<StampedLine> ReadStampedLog(const std::string& path) {
  std::vector<StampedLine> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] != '@') continue;
    std::istringstream words(line.substr(1));
    StampedLine stamped;
    words >> stamped.raw >> stamped.mono;
    std::getline(words >> std::ws, stamped.text);
    lines.push_back(stamped);
  }
  return lines;
}

void Bench::SerialFigures() {
  SetEnvironmentVariableA("ZOL_HIDSIM_DEVICES", "");  // no HID display: the serial port
  const int frames = n(30, 10);
  const int keys = n(40, 15);

  // Floor: the same PKT_CELLS packet written to the same pty by a bare program.
  uint8_t cells[42] = {};
  std::vector<int64_t> floorStarts;
  {
    const std::string device = "\\\\.\\" + options_.com;
    HANDLE port = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
      std::fprintf(stderr, "zol_bench: cannot open %s\n", options_.com.c_str());
      return;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(port, &dcb);
    dcb.BaudRate = 38400;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    SetCommState(port, &dcb);
    for (int i = 0; i < frames; ++i) {
      const std::vector<uint8_t> dots = Pattern(3000 + i);
      for (size_t c = 0; c < dots.size(); ++c) cells[2 + c] = MapDotsToDevice(dots[c]);
      uint8_t packet[64];
      const size_t length = BuildSerialPacket(PKT_CELLS, 42, cells, packet, sizeof packet);
      DWORD written = 0;
      floorStarts.push_back(QpcNs(QpcNow()));
      WriteFile(port, packet, static_cast<DWORD>(length), &written, nullptr);
      Pump(60);
    }
    PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR);
    CloseHandle(port);
  }

  const std::vector<DWORD> threads = ThreadIds();
  if (!OpenMeasuringCpu(options_.com.c_str(), "serial", true)) return;

  std::vector<int64_t> writeStarts;
  host_.keyTimes.clear();
  for (int i = 0; i < frames; ++i) {
    Pump(300);  // the display acknowledges at once; the next tick takes the ack
    const std::vector<uint8_t> dots = Pattern(4000 + i);
    writeStarts.push_back(QpcNs(QpcNow()));
    driver_->WriteTextCells(dots.data(), static_cast<int32_t>(dots.size()));
  }
  // The display script presses keys once it has seen the frames of the floor and these.
  PumpUntil([&] { return host_.keyTimes.size() >= static_cast<size_t>(keys); },
            keys * 500.0 + 5000);
  Pump(300);
  driver_->Close();

  // Which clock the performance counter follows: the floor's packets pair one to one with the
  // first CELLS packets the display saw, each a fraction of a millisecond later.
  const std::vector<StampedLine> log = ReadStampedLog(options_.simLog);
  std::vector<const StampedLine*> cellsSeen, keysSent;
  for (const StampedLine& line : log) {
    if (line.text.rfind("rx CELLS", 0) == 0) cellsSeen.push_back(&line);
    if (line.text.rfind("tx FUNCTION_KEY", 0) == 0) keysSent.push_back(&line);
  }
  int clockKind = -1;  // 0 raw, 1 mono
  for (int kind = 0; kind < 2 && clockKind < 0; ++kind) {
    bool fits = cellsSeen.size() >= floorStarts.size() && !floorStarts.empty();
    for (size_t i = 0; fits && i < floorStarts.size(); ++i) {
      const int64_t at = kind == 0 ? cellsSeen[i]->raw : cellsSeen[i]->mono;
      const int64_t delta = at - floorStarts[i];
      fits = delta >= 0 && delta < 50'000'000;
    }
    if (fits) clockKind = kind;
  }
  auto at = [&](const StampedLine* line) { return clockKind == 0 ? line->raw : line->mono; };
  const char* clockName = clockKind == 0 ? "CLOCK_MONOTONIC_RAW" : "CLOCK_MONOTONIC";

  std::vector<double> floor, figure;
  if (clockKind >= 0) {
    for (size_t i = 0; i < floorStarts.size(); ++i)
      floor.push_back(static_cast<double>(at(cellsSeen[i]) - floorStarts[i]) / 1e6);
    for (int64_t start : writeStarts)
      for (size_t i = floorStarts.size(); i < cellsSeen.size(); ++i)
        if (at(cellsSeen[i]) >= start) {
          figure.push_back(static_cast<double>(at(cellsSeen[i]) - start) / 1e6);
          break;
        }
  }
  Figure w;
  w.name = "write -> last byte at display, serial, median";
  w.unit = "ms";
  w.floor = Quantile(floor, 0.5);
  w.value = Quantile(figure, 0.5);
  w.target = "<= floor + 1 ms";
  w.met = clockKind < 0 || figure.empty() ? "n/a" : w.value <= w.floor + 1 ? "yes" : "no";
  w.samples = static_cast<int>(figure.size());
  w.note = clockKind < 0 ? "the performance counter matched neither of the display's clocks"
                         : std::string(
                               "floor: the same packet written to the same pty by a bare "
                               "program; the counter follows ") +
                               clockName +
                               Format("; p99 %.3f ms (floor %.3f ms)", Quantile(figure, 0.99),
                                      Quantile(floor, 0.99));
  report_.Add(w);

  std::vector<double> keyLatency;
  if (clockKind >= 0) {
    size_t next = 0;
    for (const StampedLine* sent : keysSent) {
      while (next < host_.keyTimes.size() && QpcNs(host_.keyTimes[next]) < at(sent)) ++next;
      if (next == host_.keyTimes.size()) break;
      keyLatency.push_back(static_cast<double>(QpcNs(host_.keyTimes[next]) - at(sent)) / 1e6);
      ++next;
    }
  }
  Figure k;
  k.name = "display key -> OnKeyEvent, serial, p99";
  k.unit = "ms";
  k.value = Quantile(keyLatency, 0.99);
  k.target = "<= 105 ms (one tick + 5 ms)";
  k.met = keyLatency.empty() ? "n/a" : k.value <= 105 ? "yes" : "no";
  k.samples = static_cast<int>(keyLatency.size());
  k.note = Format(
      "from the display writing the key packet to the host's call; median %.3f ms; "
      "no floor (the driver holds the port)",
      Quantile(keyLatency, 0.5));
  report_.Add(k);
}

int Bench::Run() {
  const double load0 = LoadAverage();
  const char* mode = options_.smoke ? "smoke" : options_.quick ? "quick" : "full";
  std::printf("zol_bench (%s), load average %.2f\n", mode, load0);
  if (!LoadDriver()) return 1;
  HidFigures();
  if (!options_.smoke) SilentHandshake();
  if (!options_.com.empty()) SerialFigures();
  const double load1 = LoadAverage();
  report_.PrintTable();
  std::printf("\nload average before %.2f, after %.2f\n", load0, load1);
  if (!report_.WriteJson(options_.jsonPath, mode, load0, load1)) {
    std::fprintf(stderr, "zol_bench: cannot write %s\n", options_.jsonPath.c_str());
    return 1;
  }
  return report_.figures().empty() ? 1 : 0;
}

}  // namespace
}  // namespace zol::bench

int main(int argc, char** argv) {
  zol::bench::Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    if (arg == "--quick") {
      options.quick = true;
    } else if (arg == "--smoke") {
      options.smoke = true;
    } else if (arg == "--zol" && value(&options.zolPath)) {
    } else if (arg == "--json" && value(&options.jsonPath)) {
    } else if (arg == "--serial" && value(&options.com)) {
    } else if (arg == "--sim-log" && value(&options.simLog)) {
    } else {
      std::fprintf(stderr,
                   "usage: zol_bench --zol PATH [--quick | --smoke] [--json PATH] "
                   "[--serial COMn --sim-log PATH]\n");
      return 2;
    }
  }
  if (options.zolPath.empty()) {
    std::fprintf(stderr, "zol_bench: --zol PATH is needed\n");
    return 2;
  }
  return zol::bench::Bench(options).Run();
}
