// State shared between the host's threads and the worker thread, and the frame
// acknowledgement state shared by the two links.
#pragma once

#include <atomic>
#include <cstdint>

namespace zol {

// Written by one side, read by the other: each field is atomic so that no access is a race.
struct SharedState {
  // Non-zero while suspended (the value last given to SetSuspended, or 1 when the worker
  // thread suspended the driver itself).
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
