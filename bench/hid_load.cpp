// HID figures of load and of losses: idle CPU, a long run of writes with lost
// acknowledgements, an unplugged display coming back, and Open with a silent display.
#include <atomic>
#include <thread>

#include "hid_group.h"

namespace zol::bench {

void HidGroup::IdleCpu() {
  const double seconds = bench_.n(60, 10);
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

  Measured f;
  f.floor = 100 * floor / wall;
  f.value = 100 * worker / wall;
  f.available = worker_ != nullptr;
  f.note = Format(
               "HID 40, %.0f s; whole process %.3f %% (simulated display's pipe thread "
               "included); thread times have 10 ms steps under Wine; ",
               wall / 1000, 100 * process / wall) +
           Format("the bare thread's 100 ms timer came up to %.1f ms late (p99), %.1f ms (max)",
                  Quantile(tickIntervals, 0.99) - 100, Quantile(tickIntervals, 1.0) - 100);
  bench_.report.Add(kIdleCpu, f);
}

void HidGroup::ManyWritesWithLostAcks() {
  const int writes = bench_.n(100000, 10000);
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
    // A pause now and then, so that a driver whose poll tick waits for an empty queue gets it.
    if (i % 20 == 19) Pump(1);
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
  const std::string thousands = Format("%.0f", writes / 1000.0);
  Measured h;
  h.floor = warm.handles;
  h.value = static_cast<double>(last.handles) - warm.handles;
  h.samples = writes;
  h.note = Format(
      "floor column: handles after the first tenth; %.0f writes refused, posting "
      "took %.0f ms",
      refused, postMs);
  bench_.report.Add(kLostAcksHandles, h, thousands);

  Measured m;
  m.floor = warm.privateKiB;
  m.value = last.privateKiB - warm.privateKiB;
  m.samples = writes;
  m.note =
      "floor column: private bytes after the first tenth; the simulated display keeps a "
      "record of every frame in this process, a few hundred bytes each";
  bench_.report.Add(kLostAcksMemory, m, thousands);

  Measured s;
  s.value = settleMs;
  s.holds = shown && stillShown;
  s.samples = writes;
  s.note = Format(
               "%.0f frames reached the display (one in flight, later ones wait in the "
               "ring, and the ring keeps the newest), %.0f acknowledgements lost; ",
               endpoint_.framesEnded.load() - framesBefore, endpoint_.acksLost.load()) +
           "shown after the writes: " + (shown ? "yes" : "no") +
           ", still shown 3 s later: " + (stillShown ? "yes" : "no");
  bench_.report.Add(kLostAcksLastShown, s, thousands);
}

void HidGroup::UnplugReplug() {
  const std::vector<uint8_t> before = Pattern(50001);
  driver_->WriteTextCells(before.data(), 40);
  Pump(500);
  server_.Stop();  // unplugged: the driver's handles break
  Pump(100);
  const std::vector<uint8_t> latest = Pattern(50002);
  driver_->WriteTextCells(latest.data(), 40);  // the screen reader writes on meanwhile
  Pump(bench_.options.quick || bench_.options.smoke
           ? 2000
           : 2500);         // away for longer than the searches' first second
  display_.ClearRecords();  // a display that comes back shows nothing
  display_.ClearInput();
  const int64_t back = QpcNow();
  server_.Start();
  const bool shown = PumpUntil([&] { return DisplayShows(display_, latest); }, 10000);
  const double ms = QpcMs(endpoint_.frameEnd - back);
  Measured f;
  f.value = shown ? ms : -1;
  f.holds = shown;
  f.note = shown ? "from the device's return to the last report of the frame"
                 : "the display did not show the last write within 10 s";
  bench_.report.Add(kHidReplug, f);
}

void HidGroup::SilentOpen() {
  sim::HidDisplayConfig config = sim::HidDisplay::Model40();
  config.replies = false;
  config.ack = sim::AckPolicy::None;
  sim::HidDisplay silent(bench_.clock, config);
  sim::HidPipeServer server(PipePath("silent"), silent);
  if (!server.Start()) return;
  ConfigureHid({server.path()});
  const OpenResult open = TimedOpen(bench_, "COM146");  // no serial port behind it
  AddOpenCpuFigure(bench_, open, "silent HID handshake", false,
                   " (no serial port behind it); whole process, floor = the process idle with "
                   "the simulations running");
  if (open.opened) driver_->Close();
  server.Stop();

  Measured f;
  f.value = open.wallMs;
  f.holds = !open.opened;
  f.note = Format("Open returned %.0f; the display saw %.0f handshake requests (21 described)",
                  open.opened, silent.handshakeRequests());
  bench_.report.Add(kHidSilentOpen, f);
}

}  // namespace zol::bench
