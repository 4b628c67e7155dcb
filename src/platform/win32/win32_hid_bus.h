// The HID stack of Windows: SetupDi enumeration of the present HID interfaces, HidD/HidP for
// attributes and report lengths, and file I/O on the device path.
#pragma once

#include <windows.h>

#include "hid/hid_bus.h"

namespace zol::win32 {

// Worker thread only. Reads use one manual-reset event, created with the first overlapped
// open and kept for the bus's life, and one overlapped record; a read never outlives ReadNow.
class Win32HidBus : public HidBus {
 public:
  Win32HidBus() = default;
  ~Win32HidBus() override;
  Win32HidBus(const Win32HidBus&) = delete;
  Win32HidBus& operator=(const Win32HidBus&) = delete;

  bool BeginList() override;
  bool PathAt(uint32_t index, char* path, size_t size) override;
  void EndList() override;
  // An overlapped open also makes sure the read event exists; when it cannot be created the
  // handle is closed again and the open fails.
  HidHandle Open(const char* path, bool overlapped) override;
  void Close(HidHandle handle) override;
  bool Attributes(HidHandle handle, HidAttributes* attributes) override;
  bool ReportLengths(HidHandle handle, HidReportLengths* lengths) override;
  bool Write(HidHandle handle, const uint8_t* report, size_t length) override;
  HidReadResult ReadNow(HidHandle handle, uint8_t* buffer, size_t length) override;

 private:
  GUID hidGuid_{};
  HANDLE deviceList_ = INVALID_HANDLE_VALUE;  // HDEVINFO
  HANDLE readEvent_ = nullptr;
  OVERLAPPED readOverlapped_{};
};

}  // namespace zol::win32
