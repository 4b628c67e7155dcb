#include "host_writers.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "bench_support.h"

namespace zol::bench {

namespace {

int64_t MsToQpc(double ms) {
  return static_cast<int64_t>(ms * QpcFrequency() / 1000.0);
}

void Keep(const StreamRecord::Key& key, std::vector<StreamRecord::Key>* keys) {
  if (key.at >= 0) keys->push_back(key);
}

}  // namespace

void WriteEvery20Ms(IBrailleDriver* driver, double seconds, uint32_t base, const PressKey& press,
                    StreamRecord* record) {
  uint32_t random = 5150;
  int key = 0;
  const int64_t start = QpcNow();
  const int64_t end = start + MsToQpc(seconds * 1000);
  int64_t nextWrite = start, nextKey = start + MsToQpc(50);
  for (uint32_t i = base;;) {
    int64_t now = QpcNow();
    if (now >= end) break;
    if (now >= nextWrite) {
      const std::vector<uint8_t> dots = Pattern(i);
      record->writes.push_back({QpcNs(now), i});
      driver->WriteTextCells(dots.data(), static_cast<int32_t>(dots.size()));
      record->lastCallEnd = QpcNs(QpcNow());
      ++i;
      nextWrite += MsToQpc(20);
    }
    if (now >= nextKey) {
      Keep(press(key++), &record->pressed);
      nextKey = now + MsToQpc(30 + NextRandom(random) % 140);
    }
    now = QpcNow();
    const int64_t due = std::min(nextWrite, nextKey);
    if (due > now) Pump(QpcMs(due - now));
  }
}

BackToBackRun WriteBackToBack(IBrailleDriver* driver, HANDLE worker, double seconds, uint32_t base,
                              const PressKey& press, StreamRecord* record) {
  std::atomic<bool> stop{false};
  std::vector<StreamRecord::Key> pressed;  // the presser's until it ended
  std::thread presser([&] {
    uint32_t random = base + 7;
    for (int n = 0; !stop.load(); ++n) {
      Sleep(30 + NextRandom(random) % 140);
      if (stop.load()) break;
      Keep(press(n), &pressed);
    }
  });

  BackToBackRun run;
  StreamRecord::Write last;
  const double worker0 = worker != nullptr ? ThreadCpuMs(worker) : -1;
  const double process0 = ProcessCpuMs();
  const int64_t start = QpcNow();
  const int64_t end = start + MsToQpc(seconds * 1000);
  int64_t nextDispatch = 0;
  for (uint32_t i = base;; ++i) {
    const int64_t now = QpcNow();
    if (now >= end) break;
    if (now >= nextDispatch) {
      DispatchWaiting();
      nextDispatch = QpcNow() + MsToQpc(1);
    }
    const std::vector<uint8_t> dots = Pattern(i);
    const int64_t t0 = QpcNow();
    ++run.writes;
    run.lastCallRefused = !driver->WriteTextCells(dots.data(), static_cast<int32_t>(dots.size()));
    if (run.lastCallRefused) {
      ++run.refused;
      continue;
    }
    ++run.accepted;
    last = {QpcNs(t0), i};
    if (record->writes.empty()) record->writes.push_back(last);
  }
  record->lastCallEnd = QpcNs(QpcNow());
  const double wall = QpcMs(QpcNow() - start);
  run.seconds = wall / 1000;
  if (worker0 >= 0) run.workerCpu = 100 * (ThreadCpuMs(worker) - worker0) / wall;
  run.processCpu = 100 * (ProcessCpuMs() - process0) / wall;
  if (record->writes.empty() || record->writes.back().index != last.index)
    record->writes.push_back(last);
  stop = true;
  presser.join();
  record->pressed.insert(record->pressed.end(), pressed.begin(), pressed.end());
  return run;
}

}  // namespace zol::bench
