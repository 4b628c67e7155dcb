// A simulated HID braille display: answers the identify request, reassembles display frames
// from output reports and acknowledges them, and sends key reports. Platform-neutral; tests
// reach it in-process through SimHidBus, Windows tests through a named pipe.
//
// Thread-safe: one thread may carry reports while another presses keys and reads the records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "core/clock.h"
#include "sim/hid_endpoint.h"

namespace zol::sim {

enum class AckPolicy {
  All,        // every complete frame, after ackDelayMs
  None,       // never
  DropFirst,  // all but the first dropFirst frames
};

struct HidDisplayConfig {
  int frameCells = 42;  // 42 for the 40-cell model, 82 for the 80-cell model
  bool replies = true;  // answers the identify request
  uint8_t replyTextCells = 40;
  uint8_t replyStatusCells = 0;
  uint32_t replyDelayMs = 0;
  AckPolicy ack = AckPolicy::All;
  int dropFirst = 0;
  uint32_t ackDelayMs = 0;
};

class HidDisplay : public HidEndpoint {
 public:
  HidDisplay(Clock& clock, const HidDisplayConfig& config);
  static HidDisplayConfig Model40() { return {}; }
  static HidDisplayConfig Model80() {
    HidDisplayConfig config;
    config.frameCells = 82;
    config.replyTextCells = 80;
    return config;
  }

  void Configure(const HidDisplayConfig& config);
  HidDisplayConfig config() const;

  // Key presses and arbitrary input, queued behind what is already waiting.
  void PressRoutingKey(uint8_t code);
  void PressFunctionKey(uint8_t code);
  void QueueInput(const uint8_t payload[8], uint32_t delayMs = 0);
  void QueueRawReport(const uint8_t* report, size_t length, uint32_t delayMs = 0);
  void ClearInput();
  size_t InputWaiting() const;

  // What the driver sent.
  std::vector<std::vector<uint8_t>> outputReports() const { return Locked(outputReports_); }
  // Decoded cells, frameCells each.
  std::vector<std::vector<uint8_t>> frames() const { return Locked(frames_); }
  size_t frameCount() const;
  std::vector<uint8_t> lastFrame() const;  // empty when none arrived
  int handshakeRequests() const { return Locked(handshakeRequests_); }
  // Frames whose trailer was wrong.
  int malformedFrames() const { return Locked(malformedFrames_); }
  // Reports neither a request nor part of a frame.
  int strayReports() const { return Locked(strayReports_); }
  int acksSent() const { return Locked(acksSent_); }  // acknowledgements queued
  // Reports the driver took that read as an acknowledgement.
  int acksTaken() const { return Locked(acksTaken_); }
  void ClearRecords();

  // HidEndpoint
  void OnOutputReport(const uint8_t* report, size_t length) override;
  size_t PeekInput(uint8_t* report, size_t capacity) override;
  void PopInput() override;

 private:
  // A copy of a record, taken under the lock.
  template <class T>
  T Locked(const T& record) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return record;
  }

  struct Pending {
    uint32_t due;
    std::vector<uint8_t> report;
  };
  void QueueLocked(std::vector<uint8_t> report, uint32_t delayMs);
  void FrameReportLocked(const uint8_t payload[8]);

  Clock& clock_;
  mutable std::mutex mutex_;
  HidDisplayConfig config_;
  std::deque<Pending> input_;
  std::vector<uint8_t> assembly_;  // payloads of the frame being received
  bool assembling_ = false;
  int completeFrames_ = 0;

  std::vector<std::vector<uint8_t>> outputReports_;
  std::vector<std::vector<uint8_t>> frames_;
  int handshakeRequests_ = 0;
  int malformedFrames_ = 0;
  int strayReports_ = 0;
  int acksSent_ = 0;
  int acksTaken_ = 0;
};

}  // namespace zol::sim
