#include "platform/win32/win32_hid_bus.h"

#include <setupapi.h>

#include <cstring>
#include <new>

// The HID headers of mingw-w64 declare C functions without C++ linkage of their own.
extern "C" {
#include <hidsdi.h>
}

namespace zol::win32 {

namespace {

HANDLE ToHandle(HidHandle handle) {
  return reinterpret_cast<HANDLE>(handle);
}

}  // namespace

Win32HidBus::~Win32HidBus() {
  EndList();
  if (readEvent_ != nullptr) CloseHandle(readEvent_);
}

bool Win32HidBus::BeginList() {
  EndList();
  HidD_GetHidGuid(&hidGuid_);
  deviceList_ =
      SetupDiGetClassDevsA(&hidGuid_, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  return deviceList_ != INVALID_HANDLE_VALUE;
}

bool Win32HidBus::PathAt(uint32_t index, char* path, size_t size) {
  if (deviceList_ == INVALID_HANDLE_VALUE || size == 0) return false;
  SP_DEVICE_INTERFACE_DATA interfaceData{};
  interfaceData.cbSize = sizeof interfaceData;
  if (!SetupDiEnumDeviceInterfaces(deviceList_, nullptr, &hidGuid_, index, &interfaceData))
    return false;

  // The interface exists. A detail that cannot be fetched, or a path too long for the
  // caller's buffer, gives an empty path, which no open accepts: the interface is skipped
  // instead of a wrong or truncated path being opened.
  path[0] = '\0';
  DWORD needed = 0;
  SetupDiGetDeviceInterfaceDetailA(deviceList_, &interfaceData, nullptr, 0, &needed, nullptr);
  if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) return true;
  char* storage = new (std::nothrow) char[needed];
  if (storage == nullptr) return true;
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage);
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  if (SetupDiGetDeviceInterfaceDetailA(deviceList_, &interfaceData, detail, needed, nullptr,
                                       nullptr)) {
    const size_t maxLength = needed - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    const size_t length = strnlen(detail->DevicePath, maxLength);
    if (length < size) {
      std::memcpy(path, detail->DevicePath, length);
      path[length] = '\0';
    }
  }
  delete[] storage;
  return true;
}

void Win32HidBus::EndList() {
  if (deviceList_ != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(deviceList_);
  deviceList_ = INVALID_HANDLE_VALUE;
}

HidHandle Win32HidBus::Open(const char* path, bool overlapped) {
  if (path == nullptr || path[0] == '\0') return 0;
  HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr);
  if (file == INVALID_HANDLE_VALUE || file == nullptr) return 0;
  if (overlapped && readEvent_ == nullptr) {
    // Manual reset, initially signalled, unnamed.
    readEvent_ = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    if (readEvent_ == nullptr) {
      CloseHandle(file);
      return 0;
    }
  }
  return reinterpret_cast<HidHandle>(file);
}

void Win32HidBus::Close(HidHandle handle) {
  if (handle != 0) CloseHandle(ToHandle(handle));
}

bool Win32HidBus::Attributes(HidHandle handle, HidAttributes* attributes) {
  HIDD_ATTRIBUTES hidAttributes{};
  hidAttributes.Size = sizeof hidAttributes;
  if (!HidD_GetAttributes(ToHandle(handle), &hidAttributes)) return false;
  attributes->vendorId = hidAttributes.VendorID;
  attributes->productId = hidAttributes.ProductID;
  attributes->versionNumber = hidAttributes.VersionNumber;
  return true;
}

bool Win32HidBus::ReportLengths(HidHandle handle, HidReportLengths* lengths) {
  PHIDP_PREPARSED_DATA preparsed = nullptr;
  if (!HidD_GetPreparsedData(ToHandle(handle), &preparsed)) return false;
  HIDP_CAPS caps{};
  const NTSTATUS status = HidP_GetCaps(preparsed, &caps);
  HidD_FreePreparsedData(preparsed);
  if (status != HIDP_STATUS_SUCCESS) return false;
  lengths->input = caps.InputReportByteLength;
  lengths->output = caps.OutputReportByteLength;
  return true;
}

bool Win32HidBus::Write(HidHandle handle, const uint8_t* report, size_t length) {
  DWORD written = 0;
  return WriteFile(ToHandle(handle), report, static_cast<DWORD>(length), &written, nullptr) !=
         FALSE;
}

HidReadResult Win32HidBus::ReadNow(HidHandle handle, uint8_t* buffer, size_t length) {
  if (readEvent_ == nullptr) return HidReadResult::Failed;
  HANDLE file = ToHandle(handle);
  std::memset(&readOverlapped_, 0, sizeof readOverlapped_);
  readOverlapped_.hEvent = readEvent_;
  if (!ReadFile(file, buffer, static_cast<DWORD>(length), nullptr, &readOverlapped_) &&
      GetLastError() != ERROR_IO_PENDING) {
    ResetEvent(readEvent_);
    return HidReadResult::Failed;  // nothing was started
  }

  DWORD transferred = 0;
  const DWORD wait = WaitForSingleObject(readEvent_, 0);
  if (wait == WAIT_OBJECT_0) {
    const BOOL done = GetOverlappedResult(file, &readOverlapped_, &transferred, FALSE);
    ResetEvent(readEvent_);
    return done ? HidReadResult::Report : HidReadResult::Failed;
  }

  // Not complete at once: cancel, and wait for the cancellation to finish so that nothing
  // stays outstanding on the buffer or the overlapped record. A report that arrived between
  // the test and the cancel completes the read normally and is delivered, not lost.
  CancelIo(file);
  const BOOL done = GetOverlappedResult(file, &readOverlapped_, &transferred, TRUE);
  ResetEvent(readEvent_);
  if (done) return HidReadResult::Report;
  return wait == WAIT_TIMEOUT ? HidReadResult::NotReady : HidReadResult::Failed;
}

}  // namespace zol::win32
