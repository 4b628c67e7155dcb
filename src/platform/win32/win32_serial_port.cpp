#include "platform/win32/win32_serial_port.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/io_failure.h"

namespace zol::win32 {

namespace {

// What the port itself allows a write; CSerial's own wait is the caller's time-out.
constexpr DWORD kPortWriteLimitMs = 1000;
// Bytes the port reported waiting are there: their read completes at once. The limit only
// guards against a driver that reports more than it holds.
constexpr DWORD kWaitingBytesLimitMs = 100;

}  // namespace

Win32SerialPort::~Win32SerialPort() {
  Close();
  if (arrivalEvent_ != nullptr) CloseHandle(arrivalEvent_);
}

uint32_t Win32SerialPort::Open(const char* name) {
  if (arrivalEvent_ == nullptr) {
    // Manual reset, initially signalled: the worker thread's first wake starts the first read.
    arrivalEvent_ = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    if (arrivalEvent_ == nullptr) return GetLastError();
  }
  const LONG opened = serial_.Open(name, 0, 0, true);
  if (opened != 0) return static_cast<uint32_t>(opened);
  // A read of n bytes now waits until n have arrived; the reads of bytes already waiting
  // complete at once.
  const LONG mode = serial_.SetReadTimeoutMode(CSerial::kReadBlocking);
  if (mode != 0) {
    serial_.Close();
    return static_cast<uint32_t>(mode);
  }
  SetEvent(arrivalEvent_);
  return 0;
}

uint32_t Win32SerialPort::Setup(uint32_t baud, uint8_t dataBits, uint8_t parity, uint8_t stopBits) {
  return static_cast<uint32_t>(
      serial_.SetupPinned(baud, dataBits, parity, stopBits, kPortWriteLimitMs));
}

uint32_t Win32SerialPort::Read(uint8_t* buffer, uint32_t count, uint32_t* received) {
  const uint32_t result = TakeArrived(buffer, count, received);
  // After a failure nothing is outstanding: the worker thread must not wake for the event
  // until the next tick tries again.
  if (result != 0) ResetEvent(arrivalEvent_);
  return result;
}

uint32_t Win32SerialPort::TakeArrived(uint8_t* buffer, uint32_t count, uint32_t* received) {
  *received = 0;
  if (!serial_.IsOpen()) return ERROR_INVALID_HANDLE;
  if (count == 0) return 0;
  uint32_t taken = 0;
  if (arrivalPending_) {
    DWORD got = 0;
    const LONG result = serial_.TakeOverlappedResult(&arrivalRecord_, &got);
    if (result == ERROR_IO_INCOMPLETE) return 0;  // nothing has arrived
    arrivalPending_ = false;
    if (result != 0) return static_cast<uint32_t>(result);
    if (got == 1) buffer[taken++] = arrivalByte_;
  }

  DWORD waiting = 0;
  LONG result = serial_.BytesWaiting(&waiting);
  if (result == 0 && waiting > 0 && taken < count) {
    DWORD got = 0;
    result = serial_.Read(buffer + taken, std::min<DWORD>(waiting, count - taken), &got, nullptr,
                          kWaitingBytesLimitMs);
    taken += got;
  }
  *received = taken;
  if (result != 0) return static_cast<uint32_t>(result);
  if (taken < count) return WaitForArrival();
  // The caller's buffer is full and more may wait: it is called again at once.
  SetEvent(arrivalEvent_);
  return 0;
}

uint32_t Win32SerialPort::WaitForArrival() {
  std::memset(&arrivalRecord_, 0, sizeof arrivalRecord_);
  arrivalRecord_.hEvent = arrivalEvent_;
  DWORD got = 0;
  // Pending or already complete (the event is then signalled): taken by the next Read.
  const LONG result = serial_.Read(&arrivalByte_, 1, &got, &arrivalRecord_, INFINITE);
  if (result != 0) return static_cast<uint32_t>(result);
  arrivalPending_ = true;
  return 0;
}

uint32_t Win32SerialPort::Write(const uint8_t* data, uint32_t count, uint32_t timeoutMs) {
  DWORD written = 0;
  const LONG result = serial_.Write(data, count, &written, nullptr, timeoutMs);
  if (result != 0) return static_cast<uint32_t>(result);
  // The port's own write limit completes a stalled write with fewer bytes, not with an error.
  return written < count ? error_code::kTimeout : 0;
}

uint32_t Win32SerialPort::Close() {
  if (arrivalPending_) serial_.CancelTransfer(&arrivalRecord_);
  arrivalPending_ = false;
  return static_cast<uint32_t>(serial_.Close());
}

std::unique_ptr<SerialPort> Win32SerialPortFactory::Create() {
  return std::unique_ptr<SerialPort>(new (std::nothrow) Win32SerialPort());
}

}  // namespace zol::win32
