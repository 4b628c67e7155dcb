// The host writing while the HID display sends keys: a burst of key reports, writes 50 times a
// second, and writes back to back.
#include "hid_group.h"
#include "host_writers.h"

namespace zol::bench {

constexpr uint32_t kStreamBase = 100000;

void HidGroup::KeyBurst() {
  constexpr int kKeys = 60;
  Pump(300);
  const size_t mark = bench_.host.keys.size();
  StreamRecord record;
  for (int i = 0; i < kKeys; ++i) {
    record.pressed.push_back({QpcNs(QpcNow()), i % 40});
    display_.PressRoutingKey(static_cast<uint8_t>(i % 40));
  }
  server_.InputWaiting();
  PumpUntil([&] { return bench_.host.keys.size() >= mark + kKeys; }, 10000);
  Pump(100);
  record.received = RoutingKeysSince(bench_.host.keys, mark);
  AddBurstFigure(bench_.report, "60 key reports, HID", AnalyseStream(record), kKeys);
}

// The display presses routing key n % 40 (one per text cell); the host sees the same value.
StreamRecord::Key HidGroup::PressKey(int n) {
  const StreamRecord::Key key{QpcNs(QpcNow()), n % 40};
  Press(static_cast<uint8_t>(key.value));
  return key;
}

// Waits until the display shows write index and the host has every key pressed, for a driver
// that falls behind, then completes record with the frames and the keys received.
void HidGroup::CatchUp(size_t keyMark, int64_t index, double limitMs, StreamRecord* record) {
  const std::vector<uint8_t> lastDots = Pattern(static_cast<uint32_t>(index));
  PumpUntil(
      [&] {
        return DisplayShows(display_, lastDots) &&
               bench_.host.keys.size() >= keyMark + record->pressed.size();
      },
      limitMs);
  Pump(100);
  record->frames = endpoint_.TakeFrames();
  record->received = RoutingKeysSince(bench_.host.keys, keyMark);
}

void HidGroup::WriteStream() {
  const double seconds = bench_.n(10, 4);
  Pump(300);
  const size_t keyMark = bench_.host.keys.size();
  StreamRecord record;
  endpoint_.StartRecording();
  WriteEvery20Ms(
      driver_, seconds, kStreamBase, [this](int n) { return PressKey(n); }, &record);
  CatchUp(keyMark, record.writes.back().index, 10000, &record);
  AddWriteStreamFigures(bench_.report, "HID", AnalyseStream(record),
                        Format("%.0f s, a write every 20 ms, keys 30-170 ms apart", seconds));
}

void HidGroup::BackToBack() {
  const bool smoke = bench_.options.smoke;
  const int runs = smoke ? 1 : bench_.n(10, 2);
  const double seconds = smoke ? 1 : bench_.n(20, 5);
  std::vector<BackToBackRun> results;
  for (int i = 0; i < runs; ++i) {
    Pump(500);
    const size_t keyMark = bench_.host.keys.size();
    StreamRecord record;
    endpoint_.StartRecording();
    StealWatch steal;
    BackToBackRun run = WriteBackToBack(
        driver_, worker_, seconds, BackToBackBase(i), [this](int n) { return PressKey(n); },
        &record);
    CatchUp(keyMark, record.writes.back().index, bench_.n(30000, 15000), &record);
    run.KeepSteal(steal);
    display_.ClearRecords();
    run.result = AnalyseStream(record);
    results.push_back(run);
  }
  AddBackToBackFigures(bench_.report, "HID", results,
                       Format("%.0f runs of %.0f s, keys 30-170 ms apart", runs, seconds));
}

}  // namespace zol::bench
