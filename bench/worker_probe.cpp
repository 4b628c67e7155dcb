#include "worker_probe.h"

#include <algorithm>
#include <atomic>
#include <cstdint>

#include "bench_support.h"

namespace zol::bench {

namespace {

constexpr double kProbeGapMs = 5;
constexpr LPARAM kProbeMark = 0x7A0B3E;

// The probe on its way (its number, 0 for none) and when it left the worker thread's queue
// (performance counter, 0 while it waits). The hook runs on the worker thread.
std::atomic<WPARAM> g_probe{0};
std::atomic<int64_t> g_takenAt{0};

LRESULT CALLBACK NoteProbe(int code, WPARAM removal, LPARAM lParam) {
  const MSG* message = reinterpret_cast<const MSG*>(lParam);
  if (code == HC_ACTION && (removal & PM_REMOVE) != 0 && message->hwnd == nullptr &&
      message->message == WM_NULL && message->lParam == kProbeMark &&
      message->wParam == g_probe.load())
    g_takenAt = QpcNow();
  return CallNextHookEx(nullptr, code, removal, lParam);
}

}  // namespace

WorkerProbe::WorkerProbe(HANDLE thread) : thread_(thread != nullptr ? GetThreadId(thread) : 0) {
  // A hook on a thread of this process needs no module: the procedure is this program's.
  if (thread_ != 0) hook_ = SetWindowsHookExA(WH_GETMESSAGE, NoteProbe, nullptr, thread_);
}

WorkerProbe::~WorkerProbe() {
  if (hook_ != nullptr) UnhookWindowsHookEx(hook_);
}

WorkerProbe::Waits WorkerProbe::Measure(double ms) {
  Waits waits;
  if (!ok()) return waits;
  const int64_t start = QpcNow();
  int64_t posted = 0;  // the probe on its way, 0 for none
  auto note = [&](int64_t takenAt) {
    waits.longestMs = std::max(waits.longestMs, QpcMs(takenAt - posted));
  };
  while (QpcMs(QpcNow() - start) < ms) {
    if (posted == 0) {
      g_takenAt = 0;
      g_probe = ++sequence_;
      posted = QpcNow();
      if (!PostThreadMessageA(thread_, WM_NULL, g_probe, kProbeMark)) return waits;
    } else if (g_takenAt != 0) {
      note(g_takenAt);
      posted = 0;
      Pump(kProbeGapMs);
      continue;
    }
    Pump(1);
  }
  if (posted != 0 && g_takenAt != 0) {
    note(g_takenAt);
  } else if (posted != 0) {
    const double waiting = QpcMs(QpcNow() - posted);
    waits.stillWaiting = waiting >= waits.longestMs;
    waits.longestMs = std::max(waits.longestMs, waiting);
  }
  return waits;
}

}  // namespace zol::bench
