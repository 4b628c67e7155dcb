// The HID stack of Windows: SetupDi enumeration of the present HID interfaces, HidD/HidP for
// attributes, report lengths and input buffers, and overlapped file I/O on the device path.
#pragma once

#include <windows.h>

#include <cstdint>

#include "hid/hid_bus.h"
#include "platform/win32/win32_hid_api.h"

namespace zol::win32 {

// Worker thread only. Input is read through one overlapped read kept outstanding on the read
// channel, with one manual-reset event (created with the first open and kept for the bus's
// life) that the worker thread waits on. Writes are overlapped too, so that a device that
// stops taking output reports costs at most the write limit, after which the write is
// cancelled; they use an event of their own. Without the system's hid.dll and setupapi.dll (see
// SystemHidApi) nothing is listed and every HID call fails: HID is unavailable.
class Win32HidBus : public HidBus {
 public:
  // The system's hid.dll and setupapi.dll, loaded on first use (the worker thread).
  Win32HidBus() = default;
  // These functions instead; null makes HID unavailable.
  explicit Win32HidBus(const HidApi* api) : api_(api), apiChosen_(true) {}
  ~Win32HidBus() override;
  Win32HidBus(const Win32HidBus&) = delete;
  Win32HidBus& operator=(const Win32HidBus&) = delete;

  bool BeginList() override;
  bool PathAt(uint32_t index, char* path, size_t size) override;
  void EndList() override;
  HidHandle OpenForQuery(const char* path) override;
  // Also makes sure both events exist; when they cannot be created the open fails.
  HidHandle Open(const char* path) override;
  void Close(HidHandle handle) override;
  bool Attributes(HidHandle handle, HidAttributes* attributes) override;
  bool ReportLengths(HidHandle handle, HidReportLengths* lengths) override;
  bool SetInputBuffers(HidHandle handle, uint32_t count) override;
  uint32_t Write(HidHandle handle, const uint8_t* report, size_t length,
                 uint32_t timeoutMs) override;
  HidReadResult TakeReport(HidHandle handle, uint8_t* buffer, size_t length,
                           uint32_t* error) override;
  uintptr_t InputEvent() override { return reinterpret_cast<uintptr_t>(readEvent_); }

 private:
  static constexpr size_t kMaxReportBytes = 256;

  // The functions of hid.dll and setupapi.dll, or null when they are unavailable.
  const HidApi* Api();
  // Cancels the outstanding read, if any, and waits until it has finished with the buffer.
  void CancelRead();

  const HidApi* api_ = nullptr;
  bool apiChosen_ = false;

  GUID hidGuid_{};
  HANDLE deviceList_ = INVALID_HANDLE_VALUE;  // HDEVINFO
  HANDLE readEvent_ = nullptr;
  HANDLE writeEvent_ = nullptr;
  OVERLAPPED readOverlapped_{};
  HANDLE readFile_ = nullptr;  // the handle a read is outstanding on, null when none
  uint8_t readBuffer_[kMaxReportBytes] = {};
};

}  // namespace zol::win32
