// What the HID link needs of the system's HID stack.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zol {

struct HidAttributes {
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  uint16_t versionNumber = 0;
};

struct HidReportLengths {
  uint16_t input = 0;   // bytes requested by every read, report ID included
  uint16_t output = 0;  // bytes passed to every write, report ID included
};

enum class HidReadResult { Report, NotReady, Failed };

// Opaque device handle; 0 is "none".
using HidHandle = uintptr_t;

// The Windows build uses SetupDi, HidD/HidP and overlapped file I/O; tests use a simulated bus.
// Results that are error codes are Windows error codes, 0 for success.
class HidBus {
 public:
  virtual ~HidBus() = default;
  // Starts a listing of the present HID interfaces. False when none can be listed.
  virtual bool BeginList() = 0;
  // Device path of the interface at index; false when index is past the last interface.
  virtual bool PathAt(uint32_t index, char* path, size_t size) = 0;
  virtual void EndList() = 0;

  // Opens a device path without access rights, shared: enough to read its attributes. Windows
  // grants it for every HID interface, keyboards and mice included, which refuse the next.
  virtual HidHandle OpenForQuery(const char* path) = 0;
  // Opens a device path for reading and writing, shared, for overlapped I/O.
  virtual HidHandle Open(const char* path) = 0;
  // Closes a handle; a read still outstanding on it is cancelled and finished first.
  virtual void Close(HidHandle handle) = 0;
  virtual bool Attributes(HidHandle handle, HidAttributes* attributes) = 0;
  virtual bool ReportLengths(HidHandle handle, HidReportLengths* lengths) = 0;
  // How many input reports the system keeps for this handle until they are read.
  virtual bool SetInputBuffers(HidHandle handle, uint32_t count) = 0;
  // Writes one output report: 0, or the error that ended it (error_code::kTimeout when it had
  // not completed within timeoutMs and was cancelled).
  virtual uint32_t Write(HidHandle handle, const uint8_t* report, size_t length,
                         uint32_t timeoutMs) = 0;
  // Takes the next input report that has arrived, without waiting. Report: buffer holds it.
  // NotReady: none has arrived; a read stays outstanding, and InputEvent is signalled when it
  // completes. Failed: *error tells why. One handle of the bus reads at a time.
  virtual HidReadResult TakeReport(HidHandle handle, uint8_t* buffer, size_t length,
                                   uint32_t* error) = 0;
  // A waitable object (a Windows event handle) signalled while TakeReport has something to
  // hand over or a read to start; 0 when the bus has none and input is polled.
  virtual uintptr_t InputEvent() = 0;
};

}  // namespace zol
