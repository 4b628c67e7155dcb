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

// The Windows build uses SetupDi, HidD/HidP and file I/O; tests use a simulated bus.
class HidBus {
 public:
  virtual ~HidBus() = default;
  // Starts a listing of the present HID interfaces. False when none can be listed.
  virtual bool BeginList() = 0;
  // Device path of the interface at index; false when index is past the last interface.
  virtual bool PathAt(uint32_t index, char* path, size_t size) = 0;
  virtual void EndList() = 0;

  // Opens a device path for reading and writing, shared; overlapped for the read channel.
  virtual HidHandle Open(const char* path, bool overlapped) = 0;
  virtual void Close(HidHandle handle) = 0;
  virtual bool Attributes(HidHandle handle, HidAttributes* attributes) = 0;
  virtual bool ReportLengths(HidHandle handle, HidReportLengths* lengths) = 0;
  // Writes one output report synchronously.
  virtual bool Write(HidHandle handle, const uint8_t* report, size_t length) = 0;
  // Starts one read on an overlapped handle and tests it without waiting. Report: buffer
  // holds it. NotReady: the read was cancelled; nothing stays outstanding.
  virtual HidReadResult ReadNow(HidHandle handle, uint8_t* buffer, size_t length) = 0;
};

}  // namespace zol
