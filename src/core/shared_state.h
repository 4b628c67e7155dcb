// State shared between the host's threads and the worker thread, and the frame
// acknowledgement state shared by the two links.
#pragma once

#include <atomic>
#include <climits>
#include <cstdint>

namespace zol {

// Written by one side, read by the other: each field is atomic so that no access is a race.
struct SharedState {
  // Value of suspended while the worker thread has suspended the driver itself, having lost a
  // serial display; it ends that suspension itself once the display answers again. The host's
  // SetSuspended never stores it (it stores 1 for it), so the two owners never mix.
  static constexpr int32_t kSuspendedByDriver = INT32_MIN;

  // Non-zero while suspended: the value last given to SetSuspended, or kSuspendedByDriver.
  // The worker thread changes it only from 0 to kSuspendedByDriver and back, with
  // compare-and-exchange, so a suspension the host asks for meanwhile always wins.
  std::atomic<int32_t> suspended{0};
  // Geometry of the connected display; set by the handshakes on the worker thread, read by
  // the host. Not cleared by a disconnect or a failed connect.
  std::atomic<int32_t> textCellCount{0};
  std::atomic<int32_t> statusCellCount{0};
};

// One display frame in flight: set when a frame is sent, cleared by its acknowledgement or by
// the poll tick's time-out. Worker thread only.
struct FrameAck {
  int32_t ackPending = 0;
  uint32_t lastFrameTick = 0;  // tick count taken when the last frame went out
};

}  // namespace zol
