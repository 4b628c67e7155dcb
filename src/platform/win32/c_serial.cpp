#include "platform/win32/c_serial.h"

#include <cstring>

namespace zol::win32 {

namespace {

constexpr char kDevicePrefix[] = "\\\\.\\";
constexpr size_t kDevicePathSize = 64;  // characters, terminator included
constexpr DWORD kOpenEventMask = EV_RXCHAR | EV_BREAK | EV_ERR;
constexpr DWORD kPurgeBoth = PURGE_TXCLEAR | PURGE_RXCLEAR;
constexpr DWORD kBreakMs = 100;
constexpr DWORD kWriteByteTimeoutMs = 1000;

}  // namespace

CSerial::~CSerial() {
  if (portHandle_ != nullptr) Close();
}

LONG CSerial::Open(const char* name, DWORD inputQueue, DWORD outputQueue, bool overlapped) {
  lastError_ = 0;
  if (portHandle_ != nullptr) return lastError_ = ERROR_ALREADY_INITIALIZED;

  char path[kDevicePathSize];
  const size_t prefixLength = sizeof kDevicePrefix - 1;
  if (name == nullptr || std::strlen(name) > kDevicePathSize - 1 - prefixLength)
    return lastError_ = ERROR_INVALID_NAME;
  std::memcpy(path, kDevicePrefix, prefixLength);
  std::strcpy(path + prefixLength, name);

  HANDLE handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    portHandle_ = nullptr;
    return lastError_ = static_cast<LONG>(GetLastError());
  }
  portHandle_ = handle;

  if (overlapped) {
    ioEvent_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (ioEvent_ == nullptr) {
      lastError_ = static_cast<LONG>(GetLastError());
      CloseHandle(portHandle_);
      portHandle_ = nullptr;
      return lastError_;
    }
  }

  if (inputQueue != 0 || outputQueue != 0) {
    if (!SetupComm(portHandle_, inputQueue, outputQueue)) {
      const LONG code = static_cast<LONG>(GetLastError());
      Close();
      return lastError_ = code;
    }
  }

  SetEventMask(kOpenEventMask);
  SetReadTimeoutMode(kReadNonBlocking);
  const LONG result = lastError_;

  // Apply the port's default configuration (flow control among it). Its results are not
  // reported, and the calls do not touch lastError.
  COMMCONFIG config;
  std::memset(&config, 0, sizeof config);
  config.dwSize = sizeof config;
  DWORD size = sizeof config;
  if (GetDefaultCommConfigA(name, &config, &size)) SetCommConfig(portHandle_, &config, size);
  return lastError_ = result;
}

LONG CSerial::Close() {
  lastError_ = 0;
  if (portHandle_ == nullptr) return 0;
  // Purging the output would throw away what was written and not yet sent: the last frame,
  // the blank that leaves the display empty, among it. It drains instead; a port that does not
  // (output held by flow control, a driver that stopped) is closed all the same.
  DrainOutput(kCloseDrainMs);
  if (!PurgeComm(portHandle_, PURGE_RXCLEAR)) lastError_ = static_cast<LONG>(GetLastError());
  if (ioEvent_ != nullptr) {
    CloseHandle(ioEvent_);
    ioEvent_ = nullptr;
  }
  CloseHandle(portHandle_);
  portHandle_ = nullptr;
  nonBlockingReads_ = false;
  unreportedErrors_ = 0;
  return lastError_;
}

void CSerial::DrainOutput(DWORD limitMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    COMSTAT status;
    DWORD errors = 0;
    if (!ClearCommError(portHandle_, &errors, &status) || status.cbOutQue == 0) return;
    if (GetTickCount() - start >= limitMs) return;
    ::Sleep(1);
  }
}

bool CSerial::RequireOpen() {
  if (portHandle_ != nullptr) return true;
  lastError_ = ERROR_INVALID_HANDLE;
  return false;
}

bool CSerial::ReadState(DCB* dcb) {
  std::memset(dcb, 0, sizeof *dcb);
  dcb->DCBlength = sizeof *dcb;
  if (GetCommState(portHandle_, dcb)) return true;
  lastError_ = static_cast<LONG>(GetLastError());
  return false;
}

bool CSerial::WriteState(DCB* dcb) {
  if (SetCommState(portHandle_, dcb)) return true;
  lastError_ = static_cast<LONG>(GetLastError());
  return false;
}

namespace {

void SetLine(DCB* dcb, DWORD baudRate, BYTE dataBits, BYTE parity, BYTE stopBits) {
  dcb->BaudRate = baudRate;
  dcb->ByteSize = dataBits;
  dcb->Parity = parity;
  dcb->StopBits = stopBits;
  dcb->fParity = parity != NOPARITY;
}

}  // namespace

LONG CSerial::Setup(DWORD baudRate, BYTE dataBits, BYTE parity, BYTE stopBits) {
  lastError_ = 0;
  DCB dcb;
  if (!RequireOpen() || !ReadState(&dcb)) return lastError_;
  SetLine(&dcb, baudRate, dataBits, parity, stopBits);
  WriteState(&dcb);
  return lastError_;
}

LONG CSerial::SetEventChar(BYTE eventChar, bool adjustMask) {
  lastError_ = 0;
  DCB dcb;
  if (!RequireOpen() || !ReadState(&dcb)) return lastError_;
  dcb.EvtChar = static_cast<char>(eventChar);
  LONG maskResult = 0;
  // A failed mask change does not stop the new character from being written.
  if (adjustMask) maskResult = SetEventMask(GetEventMask() | EV_RXFLAG);
  lastError_ = 0;
  if (WriteState(&dcb)) lastError_ = maskResult;
  return lastError_;
}

LONG CSerial::SetEventMask(DWORD mask) {
  lastError_ = 0;
  if (!RequireOpen()) return lastError_;
  if (!SetCommMask(portHandle_, mask)) return lastError_ = static_cast<LONG>(GetLastError());
  eventMask_ = mask;
  return lastError_;
}

LONG CSerial::WaitForEvent(OVERLAPPED* overlapped, DWORD timeoutMs) {
  return Transfer(TransferKind::kWaitEvent, nullptr, 0, nullptr, overlapped, timeoutMs);
}

LONG CSerial::SetHandshake(int mode) {
  lastError_ = 0;
  DCB dcb;
  if (!RequireOpen() || !ReadState(&dcb)) return lastError_;
  switch (mode) {
    case kHandshakeOff:
      dcb.fOutxCtsFlow = FALSE;
      dcb.fOutxDsrFlow = FALSE;
      dcb.fDtrControl = DTR_CONTROL_DISABLE;
      dcb.fOutX = FALSE;
      dcb.fInX = FALSE;
      dcb.fRtsControl = RTS_CONTROL_DISABLE;
      break;
    case kHandshakeHardware:
      dcb.fOutxCtsFlow = TRUE;
      dcb.fOutxDsrFlow = TRUE;
      dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
      dcb.fOutX = FALSE;
      dcb.fInX = FALSE;
      dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
      break;
    case kHandshakeSoftware:
      dcb.fOutxCtsFlow = FALSE;
      dcb.fOutxDsrFlow = FALSE;
      dcb.fDtrControl = DTR_CONTROL_DISABLE;
      dcb.fOutX = TRUE;
      dcb.fInX = TRUE;
      dcb.fRtsControl = RTS_CONTROL_DISABLE;
      break;
    default:
      return lastError_ = E_INVALIDARG;
  }
  WriteState(&dcb);
  return lastError_;
}

LONG CSerial::SetReadTimeoutMode(int mode) {
  lastError_ = 0;
  if (!RequireOpen()) return lastError_;
  COMMTIMEOUTS timeouts;
  if (!GetCommTimeouts(portHandle_, &timeouts))
    return lastError_ = static_cast<LONG>(GetLastError());
  switch (mode) {
    case kReadNonBlocking:
      timeouts.ReadIntervalTimeout = MAXDWORD;
      break;
    case kReadBlocking:
      timeouts.ReadIntervalTimeout = 0;
      break;
    default:
      return lastError_ = E_INVALIDARG;
  }
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = 0;
  if (!SetCommTimeouts(portHandle_, &timeouts))
    return lastError_ = static_cast<LONG>(GetLastError());
  nonBlockingReads_ = mode == kReadNonBlocking;
  return lastError_;
}

LONG CSerial::GetBaudRate() {
  lastError_ = 0;
  DCB dcb;
  if (!RequireOpen() || !ReadState(&dcb)) return -1;
  return static_cast<LONG>(dcb.BaudRate);
}

LONG CSerial::GetDataBits() {
  lastError_ = 0;
  DCB dcb;
  if (!RequireOpen() || !ReadState(&dcb)) return -1;
  return dcb.ByteSize;
}

LONG CSerial::GetParity() {
  lastError_ = 0;
  DCB dcb;
  if (!RequireOpen() || !ReadState(&dcb)) return -1;
  return dcb.fParity ? dcb.Parity : NOPARITY;
}

LONG CSerial::GetStopBits() {
  lastError_ = 0;
  DCB dcb;
  if (!RequireOpen() || !ReadState(&dcb)) return -1;
  return dcb.StopBits;
}

LONG CSerial::GetHandshake() {
  lastError_ = 0;
  DCB dcb;
  if (!RequireOpen() || !ReadState(&dcb)) return -1;
  if (dcb.fDtrControl == DTR_CONTROL_HANDSHAKE && dcb.fRtsControl == RTS_CONTROL_HANDSHAKE)
    return kHandshakeHardware;
  if (dcb.fOutX && dcb.fInX) return kHandshakeSoftware;
  return kHandshakeOff;
}

DWORD CSerial::GetEventMask() {
  lastError_ = 0;
  if (!RequireOpen()) return 0;
  return eventMask_;
}

BYTE CSerial::GetEventChar() {
  lastError_ = 0;
  DCB dcb;
  if (!RequireOpen() || !ReadState(&dcb)) return 0;
  return static_cast<BYTE>(dcb.EvtChar);
}

LONG CSerial::WriteText(const char* text, DWORD* written, OVERLAPPED* overlapped, DWORD timeoutMs) {
  const DWORD length = text != nullptr ? static_cast<DWORD>(std::strlen(text)) : 0;
  return Write(text, length, written, overlapped, timeoutMs);
}

LONG CSerial::Write(const void* data, DWORD count, DWORD* written, OVERLAPPED* overlapped,
                    DWORD timeoutMs) {
  return Transfer(TransferKind::kWrite, const_cast<void*>(data), count, written, overlapped,
                  timeoutMs);
}

LONG CSerial::Read(void* buffer, DWORD count, DWORD* read, OVERLAPPED* overlapped,
                   DWORD timeoutMs) {
  return Transfer(TransferKind::kRead, buffer, count, read, overlapped, timeoutMs);
}

LONG CSerial::Transfer(TransferKind kind, void* buffer, DWORD count, DWORD* transferred,
                       OVERLAPPED* overlapped, DWORD timeoutMs) {
  lastError_ = 0;
  DWORD internalCount = 0;
  if (kind != TransferKind::kWaitEvent) {
    if (transferred == nullptr) transferred = &internalCount;
    *transferred = 0;
  }
  if (!RequireOpen()) return lastError_;
  if (ioEvent_ == nullptr && (overlapped != nullptr || timeoutMs != INFINITE))
    return lastError_ = ERROR_INVALID_FUNCTION;

  if (kind == TransferKind::kRead && nonBlockingReads_ && overlapped == nullptr) {
    // Ask only for what has arrived: some serial drivers keep an overlapped read of an empty
    // port pending despite the non-blocking time-outs.
    COMSTAT status;
    DWORD errors = 0;
    if (ClearCommError(portHandle_, &errors, &status)) {
      unreportedErrors_ |= errors;  // kept for GetCommErrors
      if (status.cbInQue == 0) return lastError_;
      if (status.cbInQue < count) count = status.cbInQue;
    }
  }

  OVERLAPPED internalRecord;
  OVERLAPPED* record = overlapped;
  if (record == nullptr && ioEvent_ != nullptr) {
    std::memset(&internalRecord, 0, sizeof internalRecord);
    internalRecord.hEvent = ioEvent_;
    record = &internalRecord;
  }

  BOOL done = FALSE;
  switch (kind) {
    case TransferKind::kRead:
      done = ReadFile(portHandle_, buffer, count, transferred, record);
      break;
    case TransferKind::kWrite:
      done = WriteFile(portHandle_, buffer, count, transferred, record);
      break;
    case TransferKind::kWaitEvent:
      done = WaitCommEvent(portHandle_, &eventBits_, record);
      break;
  }
  if (done) {
    if (record != nullptr) SetEvent(record->hEvent);
    return lastError_;
  }
  const DWORD error = GetLastError();
  if (error != ERROR_IO_PENDING) return lastError_ = static_cast<LONG>(error);
  if (record == overlapped) return lastError_;  // the caller waits on its own event
  return lastError_ = WaitForInternalRecord(kind, record, transferred, timeoutMs);
}

LONG CSerial::WaitForInternalRecord(TransferKind kind, OVERLAPPED* record, DWORD* transferred,
                                    DWORD timeoutMs) {
  const DWORD wait = WaitForSingleObject(ioEvent_, timeoutMs);
  if (wait == WAIT_OBJECT_0) {
    // A completed wait for events may still have failed (aborted, for instance): its status
    // counts as much as a transfer's.
    DWORD ignored = 0;
    if (!GetOverlappedResult(portHandle_, record,
                             kind == TransferKind::kWaitEvent ? &ignored : transferred, FALSE))
      return static_cast<LONG>(GetLastError());
    return 0;
  }
  const LONG code = wait == WAIT_TIMEOUT ? ERROR_TIMEOUT : static_cast<LONG>(GetLastError());
  // The record and the count live on this call's stack: the cancelled transfer must have
  // finished before they go away. Whatever it transferred meanwhile is not reported. Only this
  // transfer is cancelled: a read the caller keeps outstanding on its own record goes on.
  CancelIoEx(portHandle_, record);
  DWORD ignored = 0;
  GetOverlappedResult(portHandle_, record, &ignored, TRUE);
  if (transferred != nullptr) *transferred = 0;
  return code;
}

int CSerial::ProbePort(const char* name) {
  if (name == nullptr) return -1;
  HANDLE handle =
      CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    CloseHandle(handle);
    return 0;
  }
  switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
      return 1;
    case ERROR_ACCESS_DENIED:
      return 2;
    default:
      return -1;
  }
}

LONG CSerial::SetupPinned(DWORD baudRate, BYTE dataBits, BYTE parity, BYTE stopBits,
                          DWORD writeLimitMs) {
  lastError_ = 0;
  DCB dcb;
  if (!RequireOpen() || !ReadState(&dcb)) return lastError_;
  SetLine(&dcb, baudRate, dataBits, parity, stopBits);
  dcb.fBinary = TRUE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fTXContinueOnXoff = TRUE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fAbortOnError = FALSE;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  if (!WriteState(&dcb)) return lastError_;

  COMMTIMEOUTS timeouts;
  if (!GetCommTimeouts(portHandle_, &timeouts))
    return lastError_ = static_cast<LONG>(GetLastError());
  timeouts.WriteTotalTimeoutMultiplier = 0;
  timeouts.WriteTotalTimeoutConstant = writeLimitMs;
  if (!SetCommTimeouts(portHandle_, &timeouts))
    return lastError_ = static_cast<LONG>(GetLastError());
  return lastError_;
}

LONG CSerial::BytesWaiting(DWORD* count) {
  lastError_ = 0;
  *count = 0;
  if (!RequireOpen()) return lastError_;
  COMSTAT status;
  DWORD errors = 0;
  if (!ClearCommError(portHandle_, &errors, &status))
    return lastError_ = static_cast<LONG>(GetLastError());
  unreportedErrors_ |= errors;
  *count = status.cbInQue;
  return lastError_;
}

LONG CSerial::TakeOverlappedResult(OVERLAPPED* record, DWORD* transferred) {
  lastError_ = 0;
  *transferred = 0;
  if (!RequireOpen()) return lastError_;
  if (!GetOverlappedResult(portHandle_, record, transferred, FALSE))
    lastError_ = static_cast<LONG>(GetLastError());
  return lastError_;
}

void CSerial::CancelTransfer(OVERLAPPED* record) {
  if (portHandle_ == nullptr) return;
  CancelIoEx(portHandle_, record);
  DWORD ignored = 0;
  GetOverlappedResult(portHandle_, record, &ignored, TRUE);
}

LONG CSerial::PurgeBuffers() {
  lastError_ = 0;
  if (!RequireOpen()) return lastError_;
  if (!PurgeComm(portHandle_, kPurgeBoth)) lastError_ = static_cast<LONG>(GetLastError());
  return lastError_;
}

LONG CSerial::SendBreak() {
  lastError_ = 0;
  if (!RequireOpen()) return lastError_;
  SetCommBreak(portHandle_);
  ::Sleep(kBreakMs);
  ClearCommBreak(portHandle_);
  return lastError_;
}

DWORD CSerial::TakeEventType() {
  const DWORD events = eventBits_ & eventMask_;
  eventBits_ = 0;
  return events;
}

DWORD CSerial::GetCommErrors() {
  lastError_ = 0;
  if (!RequireOpen()) return 0;
  DWORD errors = 0;
  if (!ClearCommError(portHandle_, &errors, nullptr)) {
    lastError_ = static_cast<LONG>(GetLastError());
    return 0;
  }
  errors |= unreportedErrors_;
  unreportedErrors_ = 0;
  return errors;
}

bool CSerial::ModemLineOn(DWORD line) {
  lastError_ = 0;
  DWORD status = 0;
  if (!GetCommModemStatus(portHandle_, &status)) {
    lastError_ = static_cast<LONG>(GetLastError());
    return false;
  }
  return (status & line) != 0;
}

bool CSerial::IsCtsOn() {
  return ModemLineOn(MS_CTS_ON);
}
bool CSerial::IsDsrOn() {
  return ModemLineOn(MS_DSR_ON);
}
bool CSerial::IsRingOn() {
  return ModemLineOn(MS_RING_ON);
}
bool CSerial::IsRlsdOn() {
  return ModemLineOn(MS_RLSD_ON);
}

LONG CSerial::WriteByte(BYTE value) {
  DWORD written = 0;
  return Write(&value, 1, &written, nullptr, kWriteByteTimeoutMs);
}

BOOL CSerial::CancelPendingIo() {
  return CancelIo(portHandle_);
}

}  // namespace zol::win32
