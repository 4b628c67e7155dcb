#include "sim/hid_display.h"

#include <algorithm>
#include <cstring>

#include "hid/hid_reports.h"

namespace zol::sim {

namespace {

bool IsHandshakeRequest(const uint8_t payload[8]) {
  return std::memcmp(payload, hid::kHandshakeRequest, hid::kPayloadBytes) == 0;
}

bool OpensFrame(const uint8_t payload[8]) {
  return std::memcmp(payload, hid::kFrameHeader, sizeof hid::kFrameHeader) == 0;
}

// Wrap-safe "a is later than b" on the 32-bit tick count.
bool Later(uint32_t a, uint32_t b) {
  return static_cast<int32_t>(a - b) > 0;
}

}  // namespace

HidDisplay::HidDisplay(Clock& clock, const HidDisplayConfig& config)
    : clock_(clock), config_(config) {}

void HidDisplay::Configure(const HidDisplayConfig& config) {
  std::lock_guard<std::mutex> lock(mutex_);
  config_ = config;
}

HidDisplayConfig HidDisplay::config() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return config_;
}

void HidDisplay::PressRoutingKey(uint8_t code) {
  const uint8_t payload[8] = {0xFD, code};
  QueueInput(payload);
}

void HidDisplay::PressFunctionKey(uint8_t code) {
  const uint8_t payload[8] = {0xFE, code};
  QueueInput(payload);
}

void HidDisplay::QueueInput(const uint8_t payload[8], uint32_t delayMs) {
  std::vector<uint8_t> report(hid::kReportBytes, 0);
  std::copy(payload, payload + hid::kPayloadBytes, report.begin() + 1);
  std::lock_guard<std::mutex> lock(mutex_);
  QueueLocked(std::move(report), delayMs);
}

void HidDisplay::QueueRawReport(const uint8_t* report, size_t length, uint32_t delayMs) {
  if (length == 0) return;  // a report has at least its ID
  std::lock_guard<std::mutex> lock(mutex_);
  QueueLocked(std::vector<uint8_t>(report, report + length), delayMs);
}

void HidDisplay::QueueLocked(std::vector<uint8_t> report, uint32_t delayMs) {
  const uint32_t due = clock_.Now() + delayMs;
  // Reports leave in the order they become due; equal times keep their queueing order.
  auto at = std::find_if(input_.begin(), input_.end(),
                         [due](const Pending& pending) { return Later(pending.due, due); });
  input_.insert(at, Pending{due, std::move(report)});
}

void HidDisplay::ClearInput() {
  std::lock_guard<std::mutex> lock(mutex_);
  input_.clear();
}

size_t HidDisplay::InputWaiting() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return input_.size();
}

size_t HidDisplay::frameCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return frames_.size();
}

std::vector<uint8_t> HidDisplay::lastFrame() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return frames_.empty() ? std::vector<uint8_t>{} : frames_.back();
}

void HidDisplay::ClearRecords() {
  std::lock_guard<std::mutex> lock(mutex_);
  outputReports_.clear();
  frames_.clear();
  handshakeRequests_ = 0;
  malformedFrames_ = 0;
  strayReports_ = 0;
  acksSent_ = 0;
}

void HidDisplay::OnOutputReport(const uint8_t* report, size_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  outputReports_.emplace_back(report, report + length);
  uint8_t payload[hid::kPayloadBytes] = {};
  if (length > 1) std::memcpy(payload, report + 1, std::min(length - 1, hid::kPayloadBytes));

  if (IsHandshakeRequest(payload)) {
    assembling_ = false;
    ++handshakeRequests_;
    if (config_.replies) {
      const uint8_t reply[8] = {
          0xFB, 0xAA, 0x55, 0x01, 0x02, config_.replyTextCells, config_.replyStatusCells, 0};
      std::vector<uint8_t> replyReport(hid::kReportBytes, 0);
      std::copy(reply, reply + 8, replyReport.begin() + 1);
      QueueLocked(std::move(replyReport), config_.replyDelayMs);
    }
    return;
  }
  FrameReportLocked(payload);
}

void HidDisplay::FrameReportLocked(const uint8_t payload[8]) {
  if (OpensFrame(payload)) {
    assembly_.clear();
    assembling_ = true;
  } else if (!assembling_) {
    ++strayReports_;
    return;
  }
  assembly_.insert(assembly_.end(), payload, payload + hid::kPayloadBytes);
  const int cells = config_.frameCells;
  const size_t frameBytes = static_cast<size_t>(hid::FrameReportCount(cells)) * hid::kPayloadBytes;
  if (assembly_.size() < frameBytes) return;
  assembling_ = false;

  const uint8_t* trailer = assembly_.data() + 3 + cells;
  if (std::memcmp(trailer, hid::kFrameTrailer, sizeof hid::kFrameTrailer) != 0) {
    ++malformedFrames_;
    return;
  }
  frames_.emplace_back(assembly_.begin() + 3, assembly_.begin() + 3 + cells);
  const int index = completeFrames_++;
  const bool acknowledge = config_.ack == AckPolicy::All ||
                           (config_.ack == AckPolicy::DropFirst && index >= config_.dropFirst);
  if (!acknowledge) return;
  ++acksSent_;
  std::vector<uint8_t> ack(hid::kReportBytes, 0);
  ack[1] = 0xFF;
  QueueLocked(std::move(ack), config_.ackDelayMs);
}

size_t HidDisplay::PeekInput(uint8_t* report, size_t capacity) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (input_.empty() || Later(input_.front().due, clock_.Now())) return 0;
  const std::vector<uint8_t>& next = input_.front().report;
  const size_t length = std::min(next.size(), capacity);
  std::memcpy(report, next.data(), length);
  return length;
}

void HidDisplay::PopInput() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (input_.empty()) return;
  const std::vector<uint8_t>& taken = input_.front().report;
  if (taken.size() > 1 && taken[1] == 0xFF) ++acksTaken_;
  input_.pop_front();
}

}  // namespace zol::sim
