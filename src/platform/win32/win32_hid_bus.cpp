#include "platform/win32/win32_hid_bus.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/io_failure.h"

namespace zol::win32 {

namespace {

// How long a cancelled write may take to finish before the bus stops waiting for it.
constexpr DWORD kCancelWaitMs = 100;

HANDLE ToHandle(HidHandle handle) {
  return reinterpret_cast<HANDLE>(handle);
}

HidHandle OpenPath(const char* path, DWORD access, DWORD flags) {
  if (path == nullptr || path[0] == '\0') return 0;
  HANDLE file = CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, flags, nullptr);
  if (file == INVALID_HANDLE_VALUE || file == nullptr) return 0;
  return reinterpret_cast<HidHandle>(file);
}

}  // namespace

Win32HidBus::~Win32HidBus() {
  EndList();
  CancelRead();
  if (readEvent_ != nullptr) CloseHandle(readEvent_);
  if (writeEvent_ != nullptr) CloseHandle(writeEvent_);
}

const HidApi* Win32HidBus::Api() {
  if (!apiChosen_) {
    api_ = SystemHidApi();
    apiChosen_ = true;
  }
  return api_;
}

bool Win32HidBus::BeginList() {
  EndList();
  const HidApi* api = Api();
  if (api == nullptr) return false;
  api->getHidGuid(&hidGuid_);
  deviceList_ =
      api->getClassDevs(&hidGuid_, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  return deviceList_ != INVALID_HANDLE_VALUE;
}

bool Win32HidBus::PathAt(uint32_t index, char* path, size_t size) {
  // A list exists only when the functions do.
  if (deviceList_ == INVALID_HANDLE_VALUE || size == 0) return false;
  const HidApi& api = *api_;
  SP_DEVICE_INTERFACE_DATA interfaceData{};
  interfaceData.cbSize = sizeof interfaceData;
  if (!api.enumDeviceInterfaces(deviceList_, nullptr, &hidGuid_, index, &interfaceData))
    return false;

  // The interface exists. A detail that cannot be fetched, or a path too long for the
  // caller's buffer, gives an empty path, which no open accepts: the interface is skipped
  // instead of a wrong or truncated path being opened.
  path[0] = '\0';
  DWORD needed = 0;
  api.getDeviceInterfaceDetail(deviceList_, &interfaceData, nullptr, 0, &needed, nullptr);
  if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) return true;
  char* storage = new (std::nothrow) char[needed];
  if (storage == nullptr) return true;
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage);
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  if (api.getDeviceInterfaceDetail(deviceList_, &interfaceData, detail, needed, nullptr, nullptr)) {
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
  if (deviceList_ != INVALID_HANDLE_VALUE) api_->destroyDeviceInfoList(deviceList_);
  deviceList_ = INVALID_HANDLE_VALUE;
}

HidHandle Win32HidBus::OpenForQuery(const char* path) {
  return OpenPath(path, 0, 0);
}

HidHandle Win32HidBus::Open(const char* path) {
  if (readEvent_ == nullptr) {
    // Manual reset, initially signalled: the worker thread's first wake starts the first read.
    readEvent_ = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  }
  if (writeEvent_ == nullptr) writeEvent_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (readEvent_ == nullptr || writeEvent_ == nullptr) return 0;
  return OpenPath(path, GENERIC_READ | GENERIC_WRITE, FILE_FLAG_OVERLAPPED);
}

void Win32HidBus::Close(HidHandle handle) {
  if (handle == 0) return;
  if (readFile_ == ToHandle(handle)) CancelRead();
  CloseHandle(ToHandle(handle));
}

bool Win32HidBus::Attributes(HidHandle handle, HidAttributes* attributes) {
  const HidApi* api = Api();
  if (api == nullptr) return false;
  HIDD_ATTRIBUTES hidAttributes{};
  hidAttributes.Size = sizeof hidAttributes;
  if (!api->getAttributes(ToHandle(handle), &hidAttributes)) return false;
  attributes->vendorId = hidAttributes.VendorID;
  attributes->productId = hidAttributes.ProductID;
  attributes->versionNumber = hidAttributes.VersionNumber;
  return true;
}

bool Win32HidBus::ReportLengths(HidHandle handle, HidReportLengths* lengths) {
  const HidApi* api = Api();
  if (api == nullptr) return false;
  PHIDP_PREPARSED_DATA preparsed = nullptr;
  if (!api->getPreparsedData(ToHandle(handle), &preparsed)) return false;
  HIDP_CAPS caps{};
  const NTSTATUS status = api->getCaps(preparsed, &caps);
  api->freePreparsedData(preparsed);
  if (status != HIDP_STATUS_SUCCESS) return false;
  lengths->input = caps.InputReportByteLength;
  lengths->output = caps.OutputReportByteLength;
  return true;
}

bool Win32HidBus::SetInputBuffers(HidHandle handle, uint32_t count) {
  const HidApi* api = Api();
  return api != nullptr && api->setNumInputBuffers(ToHandle(handle), count) != FALSE;
}

uint32_t Win32HidBus::Write(HidHandle handle, const uint8_t* report, size_t length,
                            uint32_t timeoutMs) {
  if (writeEvent_ == nullptr) return ERROR_INVALID_FUNCTION;
  HANDLE file = ToHandle(handle);
  OVERLAPPED overlapped{};
  overlapped.hEvent = writeEvent_;
  DWORD written = 0;
  if (WriteFile(file, report, static_cast<DWORD>(length), &written, &overlapped)) return 0;
  const DWORD started = GetLastError();
  if (started != ERROR_IO_PENDING) return started;

  bool cancelled = false;
  if (WaitForSingleObject(writeEvent_, timeoutMs) != WAIT_OBJECT_0) {
    CancelIoEx(file, &overlapped);
    cancelled = true;
    // The record lives on this call's stack: the write must have finished before it goes.
    // HID writes honour cancellation at once; a driver that does not is given a short while
    // and then waited for without limit, as the record cannot be abandoned.
    if (WaitForSingleObject(writeEvent_, kCancelWaitMs) != WAIT_OBJECT_0) {
      GetOverlappedResult(file, &overlapped, &written, TRUE);
      return error_code::kTimeout;
    }
  }
  if (GetOverlappedResult(file, &overlapped, &written, FALSE)) return 0;
  const DWORD error = GetLastError();
  return cancelled && error == ERROR_OPERATION_ABORTED ? error_code::kTimeout : error;
}

HidReadResult Win32HidBus::TakeReport(HidHandle handle, uint8_t* buffer, size_t length,
                                      uint32_t* error) {
  *error = 0;
  HANDLE file = ToHandle(handle);
  if (readEvent_ == nullptr || length == 0) {
    *error = ERROR_INVALID_FUNCTION;
    return HidReadResult::Failed;
  }
  const DWORD asked = static_cast<DWORD>(std::min(length, kMaxReportBytes));
  if (readFile_ != nullptr && readFile_ != file) CancelRead();
  if (readFile_ == nullptr) {
    // ReadFile resets the event; it is signalled again when the read completes.
    std::memset(&readOverlapped_, 0, sizeof readOverlapped_);
    readOverlapped_.hEvent = readEvent_;
    if (!ReadFile(file, readBuffer_, asked, nullptr, &readOverlapped_) &&
        GetLastError() != ERROR_IO_PENDING) {
      *error = GetLastError();
      // Nothing is outstanding: the worker thread must not wake for the event until the next
      // tick tries again.
      ResetEvent(readEvent_);
      return HidReadResult::Failed;
    }
    readFile_ = file;
  }

  DWORD got = 0;
  if (!GetOverlappedResult(file, &readOverlapped_, &got, FALSE)) {
    const DWORD failure = GetLastError();
    if (failure == ERROR_IO_INCOMPLETE) return HidReadResult::NotReady;
    readFile_ = nullptr;
    ResetEvent(readEvent_);
    *error = failure;
    return HidReadResult::Failed;
  }
  // Complete: the event stays signalled until the next read starts, so the worker thread
  // comes back for it.
  readFile_ = nullptr;
  const size_t taken = std::min<size_t>(got, asked);
  std::memcpy(buffer, readBuffer_, taken);
  if (taken < length) std::memset(buffer + taken, 0, length - taken);
  return HidReadResult::Report;
}

void Win32HidBus::CancelRead() {
  if (readFile_ == nullptr) return;
  // The overlapped record and the buffer are this object's: the read must have finished with
  // them before another starts or the handle goes. A report that completed meanwhile is lost,
  // which only happens when the device is being closed.
  CancelIoEx(readFile_, &readOverlapped_);
  DWORD ignored = 0;
  GetOverlappedResult(readFile_, &readOverlapped_, &ignored, TRUE);
  readFile_ = nullptr;
  SetEvent(readEvent_);
}

}  // namespace zol::win32
