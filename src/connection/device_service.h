// The seam between the worker thread's command channel and the device side.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zol {

// Every method runs on the worker thread, one at a time.
class DeviceService {
 public:
  virtual ~DeviceService() = default;
  // CMD_CONNECT: connects with this port name (empty when the command carried no payload).
  // Returns 1 when a display answered.
  virtual int Connect(const char* portName) = 0;
  // CMD_DISCONNECT (sent by Close): closes the link; from here until the next connect, poll
  // ticks neither search nor reconnect, so nothing reopens the device.
  virtual void Disconnect() = 0;
  // CMD_SUSPEND: non-zero disconnects, 0 reconnects with the stored port name.
  virtual void Suspend(int32_t flag) = 0;
  // CMD_WRITE_TEXT, CMD_WRITE_ALL (count >= 1 cells at dots), CMD_CLEAR.
  virtual void WriteText(const uint8_t* dots, int32_t count) = 0;
  virtual void WriteAll(const uint8_t* dots, int32_t count) = 0;
  virtual void Clear() = 0;
  // CMD_POLL: one poll tick, every 100 ms whatever else the thread does.
  virtual void PollTick() = 0;
  // Takes everything the display has sent (bounded per call), on every wake of the thread.
  virtual void ServiceInput() = 0;
  // The waitable objects (Windows event handles) whose signal means that the display has sent
  // something; at most max of them into events. Returns how many.
  virtual size_t InputEvents(uintptr_t* events, size_t max) = 0;
  // The worker thread is ending: release every device handle, port and mapping.
  virtual void Shutdown() = 0;
};

}  // namespace zol
