// How long the driver's worker thread keeps a message waiting, seen from outside: a probe posted
// to its queue (WM_NULL, which every message loop dispatches to nowhere) and a message hook on
// that thread that notes when the probe leaves the queue. The next probe follows 5 ms after the
// last was taken, so that probes never pile up; each waits as long as the thread is busy
// elsewhere, as a command from the host arriving at that moment would.
#pragma once

#include <windows.h>

namespace zol::bench {

class WorkerProbe {
 public:
  // Hooks the thread; a null thread makes a probe that is not ok.
  explicit WorkerProbe(HANDLE thread);
  ~WorkerProbe();
  WorkerProbe(const WorkerProbe&) = delete;
  WorkerProbe& operator=(const WorkerProbe&) = delete;
  bool ok() const { return hook_ != nullptr; }

  struct Waits {
    double longestMs = -1;      // -1 when nothing was measured
    bool stillWaiting = false;  // a probe was still waiting at the end; it counts until then
  };
  // Sends probes one after another for ms, dispatching this thread's messages meanwhile. Only
  // one probe may run at a time in the process.
  Waits Measure(double ms);

 private:
  DWORD thread_;
  HHOOK hook_ = nullptr;
  WPARAM sequence_ = 0;
};

}  // namespace zol::bench
