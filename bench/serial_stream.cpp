// The host writing while the serial display sends keys: a burst of key packets, writes 50
// times a second, and writes back to back. The times keys left the display and frames reached
// it come from the display's log.
#include "host_writers.h"
#include "serial_group.h"

namespace zol::bench {

constexpr uint32_t kStreamBase = 200000;

void SerialGroup::KeyBurst() {
  constexpr int kKeys = 30;
  Pump(300);
  const size_t mark = sim_.Mark();
  const size_t keyMark = bench_.host.keys.size();
  std::string commands;
  for (int i = 0; i < kKeys; ++i) commands += (i == 0 ? "" : "\n") + PressCommand(i);
  sim_.Send(commands);  // one write: the display sends them together
  PumpUntil([&] { return bench_.host.keys.size() >= keyMark + kKeys; }, 10000);
  Pump(100);
  StreamRecord record;
  record.pressed = KeysSentSince(mark);
  record.received = RoutingKeysSince(bench_.host.keys, keyMark);
  AddBurstFigure(bench_.report, "30 key packets, serial", AnalyseStream(record), kKeys);
}

// Waits until the display received write index and the host has every key pressed, for a
// driver that falls behind, then completes record from the display's log from line mark on.
void SerialGroup::CatchUp(size_t mark, size_t keyMark, int keys, int64_t index, double limitMs,
                          StreamRecord* record) {
  PumpUntil([&] { return bench_.host.keys.size() >= keyMark + keys; }, limitMs);
  WaitShown(mark, index, 5000);
  Pump(100);
  record->frames = FramesSince(mark);
  record->pressed = KeysSentSince(mark);
  record->received = RoutingKeysSince(bench_.host.keys, keyMark);
}

void SerialGroup::WriteStream() {
  const double seconds = bench_.n(10, 4);
  Pump(300);
  const size_t mark = sim_.Mark();
  const size_t keyMark = bench_.host.keys.size();
  StreamRecord record;
  int keys = 0;
  WriteEvery20Ms(
      driver_, seconds, kStreamBase,
      [&](int n) {
        sim_.Send(PressCommand(n));
        keys = n + 1;
        return StreamRecord::Key{-1, 0};
      },
      &record);
  CatchUp(mark, keyMark, keys, record.writes.back().index, 10000, &record);
  AddWriteStreamFigures(bench_.report, "serial", AnalyseStream(record),
                        Format("%.0f s, a write every 20 ms, keys 30-170 ms apart", seconds));
}

void SerialGroup::BackToBack() {
  const int runs = bench_.n(10, 2);
  const double seconds = bench_.n(20, 5);
  std::vector<BackToBackRun> results;
  for (int i = 0; i < runs; ++i) {
    Pump(500);
    const size_t mark = sim_.Mark();
    const size_t keyMark = bench_.host.keys.size();
    StreamRecord record;
    int keys = 0;  // the presser thread's until the writing ended
    StealWatch steal;
    BackToBackRun run = WriteBackToBack(
        driver_, worker_, seconds, BackToBackBase(i),
        [&](int n) {
          sim_.Send(PressCommand(n));
          keys = n + 1;
          return StreamRecord::Key{-1, 0};
        },
        &record);
    CatchUp(mark, keyMark, keys, record.writes.back().index, bench_.n(30000, 15000), &record);
    run.KeepSteal(steal);
    run.result = AnalyseStream(record);
    results.push_back(run);
  }
  AddBackToBackFigures(bench_.report, "serial", results,
                       Format("%.0f runs of %.0f s, keys 30-170 ms apart", runs, seconds));
}

}  // namespace zol::bench
