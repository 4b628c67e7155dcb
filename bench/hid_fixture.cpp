#include "hid_fixture.h"

#include "bench_support.h"
#include "connection/dot_map.h"
#include "hid/hid_reports.h"
#include "hid_population.h"

namespace zol::bench {

void StampedEndpoint::OnOutputReport(const uint8_t* report, size_t length) {
  display_.OnOutputReport(report, length);
  if (length < hid::kReportBytes || report[6] != hid::kFrameTrailer[0] ||
      report[7] != hid::kFrameTrailer[1] || report[8] != hid::kFrameTrailer[2])
    return;
  const int64_t now = QpcNow();
  frameEnd = now;
  ++framesEnded;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!recording_) return;
  const std::vector<uint8_t> cells = display_.lastFrame();
  frames_.push_back({QpcNs(now), cells.empty() ? -1 : PatternIndex(cells.data(), cells.size())});
}

size_t StampedEndpoint::PeekInput(uint8_t* report, size_t capacity) {
  for (;;) {
    const size_t length = display_.PeekInput(report, capacity);
    if (length == 0) return 0;
    const bool ack = length >= 2 && report[1] == 0xFF;
    if (ack && lossPercent.load() > 0 && NextRandom(random_) % 100 < uint32_t(lossPercent)) {
      display_.PopInput();
      ++acksLost;
      continue;
    }
    return length;
  }
}

void StampedEndpoint::StartRecording() {
  std::lock_guard<std::mutex> lock(mutex_);
  recording_ = true;
  frames_.clear();
}

std::vector<StreamRecord::Frame> StampedEndpoint::TakeFrames() {
  std::lock_guard<std::mutex> lock(mutex_);
  recording_ = false;
  std::vector<StreamRecord::Frame> frames;
  frames.swap(frames_);
  return frames;
}

std::string PipePath(const char* name) {
  return sim::HidPipeServer::PipePath(std::string("bench-") + name);
}

void ConfigureHid(const std::vector<std::string>& paths) {
  std::vector<std::string> entries;
  for (const std::string& path : paths)
    entries.push_back(sim::HidSimEntry(path, hid::kVendorId, hid::kProduct40, hid::kVersion));
  sim::SetHidSimDevices(entries);
}

bool DisplayShows(const sim::HidDisplay& display, const std::vector<uint8_t>& dots) {
  const std::vector<uint8_t> last = display.lastFrame();
  if (last.size() < dots.size()) return false;
  for (size_t c = 0; c < dots.size(); ++c)
    if (last[c] != MapDotsToDevice(dots[c])) return false;
  return true;
}

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

}  // namespace zol::bench
