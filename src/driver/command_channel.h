// Codes, message numbers and parameters of the worker thread's command channel.
// Platform-neutral.
#pragma once

#include <cstdint>

namespace zol {

// A key event for the hidden window (WM_USER + 1).
inline constexpr uint32_t kKeyEventMessage = 1025;

// Command codes. The driver queues its commands in process (command_queue.h) and wakes the
// worker thread with kWakeMessage. No thread message is a command: any program that knows the
// thread's id can post to it.
enum CommandCode : uint32_t {
  CMD_STOP = 0,
  CMD_NOP = 1,
  CMD_CONNECT = 2,
  CMD_DISCONNECT = 3,
  CMD_SUSPEND = 4,
  CMD_WRITE_TEXT = 5,
  CMD_WRITE_ALL = 6,
  CMD_CLEAR = 7,
  CMD_POLL = 8,
};

// Posted to the worker thread when a command arrives in an empty queue: it only wakes it.
inline constexpr uint32_t kWakeMessage = 0x8000 + 0x5A4C;  // WM_APP + 'ZL'

// Commands waiting at most; a post beyond them fails (the host's write returns 0). A host that
// writes 50 times a second fills it in 20 s of a worker thread held up; one that writes in a
// loop without pause fills it at once, and then its last accepted write is never more than
// these commands of the worker's time (about a millisecond) behind, where a deeper queue would
// keep the display that far behind the host and grow the memory without bound.
inline constexpr uint32_t kMaxQueuedCommands = 1000;

// The parameter of a queued command: the command's value in the low 32 bits and, in the
// high 32 bits, the wait ticket of the caller that waits for this very command (0 when nobody
// waits). The worker thread publishes the ticket once the command has run.
inline constexpr uint64_t PackCommandParam(uint32_t value, uint32_t waitTicket) {
  return static_cast<uint64_t>(waitTicket) << 32 | value;
}
inline constexpr uint32_t CommandValue(uint64_t param) {
  return static_cast<uint32_t>(param);
}
inline constexpr uint32_t CommandWaitTicket(uint64_t param) {
  return static_cast<uint32_t>(param >> 32);
}

// Display writes carry at most this many cells: the cell buffer has no room for more, and a
// larger count would only make the driver copy host memory it never uses.
inline constexpr int32_t kMaxWriteCells = 200;

}  // namespace zol
