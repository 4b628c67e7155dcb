// The HID link: discovery, single reports, the handshake, display frames and input reports.
//
// Report buffers: the display's reports are 9 bytes (report ID 0 and 8 payload bytes), but
// every read asks for the input report length and every write passes the output report length
// that the device announces. Both buffers hold kMaxReportBytes (256), and an announced length is
// limited to that, so no device can make a read or write run past them; a device announcing
// more cannot be driven and shows up as failed writes and reads. An announced length of 0, or
// capabilities that cannot be read, are taken as the display's own 9 bytes. Output bytes after
// the ninth are 0; input bytes that a shorter report does not carry read as 0.
//
// Discovery spends nothing on an interface that cannot be the display: a path that names other
// USB ids is skipped unopened, and any other is opened without access rights for its
// attributes. Only a display waits 300 ms (a device that has just arrived settles) before it is
// opened, twice, for reading and writing: a write channel and a read channel. It is taken only
// when both open; otherwise the first handle is closed and the search goes on, so the link is
// never left half open. A search closes a link that is still open before it starts.
//
// Input is read as it arrives: one read stays outstanding on the read channel, whose input
// buffer is raised to 512 reports right after it opens, so that a burst of keys waits in the
// system until the worker thread takes it instead of being dropped (Windows keeps 32 reports
// per handle unless told otherwise and drops the oldest). A write that has not completed within
// 1000 ms is cancelled. A read or write that fails for any reason but a passing shortage of
// memory marks the device as lost (core/io_failure.h); the connection manager then closes it
// and searches again.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/clock.h"
#include "core/shared_state.h"
#include "hid/hid_bus.h"
#include "hid/hid_models.h"
#include "input/input_translator.h"

namespace zol {

class HidLink {
 public:
  static constexpr int kRingRows = 8;
  static constexpr int kRowBytes = 128;

  static constexpr uint32_t kInputBuffers = 512;
  // A display that has just arrived is given this long before it is opened.
  static constexpr uint16_t kSettleWaitMs = 300;
  static constexpr uint32_t kWriteLimitMs = 1000;
  // Input reports taken per wake of the worker thread at most, so that a device that floods
  // the link cannot hold the thread.
  static constexpr int kReportsPerWake = 64;

  HidLink(HidBus& bus, Clock& clock, SharedState& shared, FrameAck& ack, InputTranslator& input);

  // Searches the present interfaces and opens the first display, 300 ms after it was found.
  int FindHidDisplay() { return Search(SearchMode::kSettleAndOpen); }
  // The kind of the first display among the present interfaces, found as FindHidDisplay finds
  // it but neither opened nor waited for.
  int LocateHidDisplay() { return Search(SearchMode::kLocate); }
  // FindHidDisplay without the wait, for a display that was located at least 300 ms before.
  int OpenHidDisplay() { return Search(SearchMode::kOpen); }
  // Identify handshake; stores the reply's cell counts. 1 when the display answered. Its
  // 50 ms waits are measured against deadlines, so that sleeps the system lengthens do not add
  // up. Every report that has arrived is looked at in each step; others than the reply are
  // dropped.
  int HidHandshake();
  // Closes both handles (no-op when closed) and forgets a loss.
  void CloseDevice();
  bool DeviceOpen() const { return writeHandle_ != 0; }
  // A read or write failed in a way that means the device is gone.
  bool DeviceLost() const { return lost_; }

  // One report: report ID 0 and the 8 payload bytes. 1 without writing when no device; 0 when
  // the write failed or the device is lost.
  int WriteHidReport(const uint8_t payload[8]);
  // 9 with the payload filled when a report had arrived, -1 otherwise; never blocks.
  int ReadHidReport(uint8_t payload[8]);
  // Hands every input report that has arrived, in order, to HandleHidInput, at most
  // kReportsPerWake; returns how many.
  int ServiceInput();
  // What the worker thread waits on for input while the device is open; 0 otherwise.
  uintptr_t InputEvent() { return readHandle_ != 0 && !lost_ ? bus_.InputEvent() : 0; }

  // Sends or queues a display frame of the model of kind: cells holds at least its frameCells.
  void SendHidFrame(const uint8_t* cells, HidKind kind);
  void SendHidFrame40(const uint8_t* cells) { SendHidFrame(cells, kHid40); }
  void SendHidFrame80(const uint8_t* cells) { SendHidFrame(cells, kHid80); }
  // Sends the oldest waiting frame as a frame of the model of kind, once nothing is in flight.
  void SendNextQueuedFrame(HidKind kind);
  void HandleHidInput(const uint8_t payload[8]);
  // Drops every waiting frame (both indices to 0).
  void DropQueue() { queueRead_ = queueWrite_ = 0; }

  int32_t queueRead() const { return queueRead_; }
  int32_t queueWrite() const { return queueWrite_; }
  const uint8_t* pendingRow(int row) const { return pendingFrames_[row & 7]; }

 private:
  static constexpr size_t kMaxReportBytes = 256;
  static constexpr size_t kMaxPathBytes = 1024;

  enum class SearchMode { kLocate, kSettleAndOpen, kOpen };
  int Search(SearchMode mode);
  // Opens the display of kind at path: its kind, or kHidNone with nothing open.
  int OpenDisplay(const char* path, int kind);
  // The kind of display at path from its attributes, read through a handle without access.
  int QueryKind(const char* path);
  // Looks at every report that has arrived for the handshake's reply; true when it came.
  bool HandshakeReplyArrived();
  // Writes the frame's reports and marks it in flight.
  void WriteFrame(const uint8_t* cells, const hid::Model& model);
  void QueueFrame(const uint8_t* cells, const hid::Model& model);
  bool RingFull() const;

  HidBus& bus_;
  Clock& clock_;
  SharedState& shared_;
  FrameAck& ack_;
  InputTranslator& input_;

  HidHandle writeHandle_ = 0;
  HidHandle readHandle_ = 0;
  bool lost_ = false;
  HidReportLengths lengths_;  // as used for I/O: announced, limited to kMaxReportBytes
  uint8_t outReport_[kMaxReportBytes] = {};
  uint8_t inReport_[kMaxReportBytes] = {};

  uint8_t pendingFrames_[kRingRows][kRowBytes] = {};
  int32_t queueRead_ = 0;
  int32_t queueWrite_ = 0;
};

}  // namespace zol
