#include "serial_group.h"

#include <cstdio>
#include <string>

namespace zol::bench {

void RunSerialGroup(BenchContext& bench) {
  testing::SerialDisplayClient sim;
  if (!sim.ok()) {
    std::fprintf(stderr,
                 "zol_bench: no serial display (ZOL_E2E_CONTROL, ZOL_E2E_COM): the serial group "
                 "is skipped\n");
    return;
  }
  SerialGroup(bench, sim).Run();
  if (!bench.options.keepSimLog.empty()) sim.CopyLogTo(bench.options.keepSimLog);
}

void SerialGroup::Run() {
  SetEnvironmentVariableA("ZOL_HIDSIM_DEVICES", "");  // no HID display: the serial port
  MeasureIdleFloor(bench_);
  const double nothingMs = OpenWithNothingToFind();
  std::vector<double> frameFloor, keyFloor;
  if (!FrameFloorAndClock(&frameFloor)) return;
  KeyFloor(&keyFloor);

  const std::vector<DWORD> threads = ThreadIds();
  if (!OpenAnswering(nothingMs)) return;
  worker_ = FindWorkerThread(threads);
  WriteLatency(frameFloor);
  KeysAlone(keyFloor);
  KeyBurst();
  WriteStream();
  BackToBack();
  LossAndReturn(false);
  driver_->Close();
  if (worker_ != nullptr) CloseHandle(worker_);
  worker_ = nullptr;
  if (TimedOpen(bench_, sim_.com().c_str()).opened) {
    LossAndReturn(true);
    driver_->Close();
  }
  SilentOpen(nothingMs);
}

int64_t SerialGroup::FrameIndex(const testing::DisplayLine& line) {
  if (line.text.rfind("rx CELLS ", 0) != 0) return -1;
  const std::vector<uint8_t> data = testing::HexBytesAfter(line.text, "rx CELLS");
  return data.size() == 42 ? PatternIndex(data.data() + 2, 40) : -1;
}

std::vector<StreamRecord::Frame> SerialGroup::FramesSince(size_t mark) {
  std::vector<StreamRecord::Frame> frames;
  const std::vector<testing::DisplayLine>& lines = sim_.Lines();
  for (size_t i = mark; i < lines.size(); ++i)
    if (lines[i].text.rfind("rx CELLS ", 0) == 0)
      frames.push_back({sim_.At(lines[i]), FrameIndex(lines[i])});
  return frames;
}

bool SerialGroup::WaitShown(size_t mark, int64_t index, double limitMs) {
  size_t scanned = mark;
  bool shown = false;
  return PumpUntil(
      [&] {
        const std::vector<testing::DisplayLine>& lines = sim_.Lines();
        for (; scanned < lines.size() && !shown; ++scanned)
          shown = FrameIndex(lines[scanned]) == index;
        return shown;
      },
      limitMs);
}

// Routing key codes 3 to 41: with the display's 2 status cells the host sees values 1 to 39,
// each within its 40 text cells.
std::string SerialGroup::PressCommand(int key) const {
  return "route " + std::to_string(3 + key % 39);
}

std::vector<StreamRecord::Key> SerialGroup::KeysSentSince(size_t mark) {
  std::vector<StreamRecord::Key> keys;
  const std::vector<testing::DisplayLine>& lines = sim_.Lines();
  for (size_t i = mark; i < lines.size(); ++i) {
    if (lines[i].text.rfind("tx ROUTING_KEY ", 0) != 0) continue;
    const std::vector<uint8_t> data = testing::HexBytesAfter(lines[i].text, "tx ROUTING_KEY");
    if (data.size() == 1) keys.push_back({sim_.At(lines[i]), data[0] - 2});
  }
  return keys;
}

}  // namespace zol::bench
