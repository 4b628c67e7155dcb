#include "hid_group.h"

#include <cstdio>

namespace zol::bench {

void RunHidGroup(BenchContext& bench) {
  HidGroup(bench).Run();
}

void HidGroup::Run() {
  if (!server_.Start()) {
    std::fprintf(stderr, "zol_bench: cannot serve %s\n", server_.path().c_str());
    return;
  }
  ConfigureHid({server_.path()});
  MeasureIdleFloor(bench_);
  std::vector<double> frameFloor, keyFloor;
  FrameFloor(&frameFloor);
  KeyFloor(&keyFloor);
  Pump(200);
  display_.ClearInput();  // the floor's acknowledgements
  display_.ClearRecords();

  const std::vector<DWORD> threads = ThreadIds();
  const OpenResult open = TimedOpen(bench_, "COM146");
  AddOpenCpuFigure(bench_, open, "HID", true);
  if (open.opened) {
    worker_ = FindWorkerThread(threads);
    Latencies(frameFloor, keyFloor);
    KeyBurst();
    WriteStream();
    WriteCallTime();
    IdleCpu();
    BackToBack();
    // Before the lost acknowledgements: a display lost again soon after it was found may be
    // searched for at a slower pace, which is not what this figure is about.
    UnplugReplug();
    ManyWritesWithLostAcks();
    driver_->Close();
    if (worker_ != nullptr) CloseHandle(worker_);
    worker_ = nullptr;
  }
  server_.Stop();
  if (!bench_.options.smoke) SilentOpen();
}

}  // namespace zol::bench
