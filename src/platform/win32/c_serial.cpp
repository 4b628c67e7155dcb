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

// The device-control bits of each handshake mode, in the order of CSerial::Handshake.
struct HandshakeBits {
  BOOL ctsAndDsrFlow;
  DWORD dtrControl;
  DWORD rtsControl;
  BOOL xonXoff;
};
constexpr HandshakeBits kHandshakes[] = {
    {FALSE, DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE, FALSE},
    {TRUE, DTR_CONTROL_HANDSHAKE, RTS_CONTROL_HANDSHAKE, FALSE},
    {FALSE, DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE, TRUE},
};

void SetLine(DCB* dcb, DWORD baudRate, BYTE dataBits, BYTE parity, BYTE stopBits) {
  dcb->BaudRate = baudRate;
  dcb->ByteSize = dataBits;
  dcb->Parity = parity;
  dcb->StopBits = stopBits;
  dcb->fParity = parity != NOPARITY;
}

}  // namespace

bool CSerial::Begin() {
  lastError_ = 0;
  if (portHandle_ != nullptr) return true;
  lastError_ = ERROR_INVALID_HANDLE;
  return false;
}

bool CSerial::Keep(bool succeeded) {
  if (!succeeded) lastError_ = static_cast<LONG>(GetLastError());
  return succeeded;
}

bool CSerial::TakeStatus(COMSTAT* status) {
  DWORD errors = 0;
  if (!ClearCommError(portHandle_, &errors, status)) return false;
  unreportedErrors_ |= errors;
  return true;
}

bool CSerial::ReadState(DCB* dcb) {
  std::memset(dcb, 0, sizeof *dcb);
  dcb->DCBlength = sizeof *dcb;
  return Keep(GetCommState(portHandle_, dcb));
}

template <class Result, class Get>
Result CSerial::QueryState(Result failed, Get get) {
  DCB dcb;
  if (!Begin() || !ReadState(&dcb)) return failed;
  return get(dcb);
}

CSerial::~CSerial() {
  if (portHandle_ != nullptr) Close();
}

LONG CSerial::Open(const char* name, DWORD inputQueue, DWORD outputQueue, bool overlapped) {
  lastError_ = 0;
  if (portHandle_ != nullptr) return lastError_ = ERROR_ALREADY_INITIALIZED;

  if (name == nullptr || std::strlen(name) + sizeof kDevicePrefix > kDevicePathSize)
    return lastError_ = ERROR_INVALID_NAME;
  char path[kDevicePathSize];
  std::strcpy(path, kDevicePrefix);
  std::strcat(path, name);

  HANDLE handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr);
  if (!Keep(handle != INVALID_HANDLE_VALUE)) return lastError_;
  portHandle_ = handle;

  if (overlapped) ioEvent_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (overlapped && !Keep(ioEvent_ != nullptr)) {
    CloseHandle(portHandle_);
    portHandle_ = nullptr;
    return lastError_;
  }
  if ((inputQueue != 0 || outputQueue != 0) &&
      !Keep(SetupComm(portHandle_, inputQueue, outputQueue))) {
    const LONG code = lastError_;
    Close();
    return lastError_ = code;
  }

  SetEventMask(kOpenEventMask);
  const LONG result = SetReadTimeoutMode(kReadNonBlocking);

  // Apply the port's default configuration (flow control among it). Its results are not
  // reported, and the calls do not touch lastError.
  COMMCONFIG config = {};
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
  Keep(PurgeComm(portHandle_, PURGE_RXCLEAR));
  if (ioEvent_ != nullptr) CloseHandle(ioEvent_);
  ioEvent_ = nullptr;
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
    if (!TakeStatus(&status) || status.cbOutQue == 0) return;
    if (GetTickCount() - start >= limitMs) return;
    ::Sleep(1);
  }
}

LONG CSerial::Setup(DWORD baudRate, BYTE dataBits, BYTE parity, BYTE stopBits) {
  DCB dcb;
  if (!Begin() || !ReadState(&dcb)) return lastError_;
  SetLine(&dcb, baudRate, dataBits, parity, stopBits);
  Keep(SetCommState(portHandle_, &dcb));
  return lastError_;
}

LONG CSerial::SetEventChar(BYTE eventChar, bool adjustMask) {
  DCB dcb;
  if (!Begin() || !ReadState(&dcb)) return lastError_;
  dcb.EvtChar = static_cast<char>(eventChar);
  // A failed mask change does not stop the new character from being written.
  const LONG maskResult = adjustMask ? SetEventMask(GetEventMask() | EV_RXFLAG) : 0;
  lastError_ = 0;
  if (Keep(SetCommState(portHandle_, &dcb))) lastError_ = maskResult;
  return lastError_;
}

LONG CSerial::SetEventMask(DWORD mask) {
  if (Begin() && Keep(SetCommMask(portHandle_, mask))) eventMask_ = mask;
  return lastError_;
}

LONG CSerial::WaitForEvent(OVERLAPPED* overlapped, DWORD timeoutMs) {
  return Transfer(TransferKind::kWaitEvent, nullptr, 0, nullptr, overlapped, timeoutMs);
}

LONG CSerial::SetHandshake(int mode) {
  DCB dcb;
  if (!Begin() || !ReadState(&dcb)) return lastError_;
  if (mode < kHandshakeOff || mode > kHandshakeSoftware) return lastError_ = E_INVALIDARG;
  const HandshakeBits& bits = kHandshakes[mode];
  dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = bits.ctsAndDsrFlow;
  dcb.fDtrControl = bits.dtrControl;
  dcb.fRtsControl = bits.rtsControl;
  dcb.fOutX = dcb.fInX = bits.xonXoff;
  Keep(SetCommState(portHandle_, &dcb));
  return lastError_;
}

LONG CSerial::SetReadTimeoutMode(int mode) {
  COMMTIMEOUTS timeouts;
  if (!Begin() || !Keep(GetCommTimeouts(portHandle_, &timeouts))) return lastError_;
  if (mode != kReadNonBlocking && mode != kReadBlocking) return lastError_ = E_INVALIDARG;
  timeouts.ReadIntervalTimeout = mode == kReadNonBlocking ? MAXDWORD : 0;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = 0;
  if (Keep(SetCommTimeouts(portHandle_, &timeouts))) nonBlockingReads_ = mode == kReadNonBlocking;
  return lastError_;
}

LONG CSerial::GetBaudRate() {
  return QueryState(-1L, [](const DCB& dcb) { return static_cast<LONG>(dcb.BaudRate); });
}

LONG CSerial::GetDataBits() {
  return QueryState(-1L, [](const DCB& dcb) { return static_cast<LONG>(dcb.ByteSize); });
}

LONG CSerial::GetParity() {
  return QueryState(
      -1L, [](const DCB& dcb) { return static_cast<LONG>(dcb.fParity ? dcb.Parity : NOPARITY); });
}

LONG CSerial::GetStopBits() {
  return QueryState(-1L, [](const DCB& dcb) { return static_cast<LONG>(dcb.StopBits); });
}

LONG CSerial::GetHandshake() {
  return QueryState(-1L, [](const DCB& dcb) -> LONG {
    if (dcb.fDtrControl == DTR_CONTROL_HANDSHAKE && dcb.fRtsControl == RTS_CONTROL_HANDSHAKE)
      return kHandshakeHardware;
    return dcb.fOutX && dcb.fInX ? kHandshakeSoftware : kHandshakeOff;
  });
}

DWORD CSerial::GetEventMask() {
  return Begin() ? eventMask_ : 0;
}

BYTE CSerial::GetEventChar() {
  return QueryState(BYTE{0}, [](const DCB& dcb) { return static_cast<BYTE>(dcb.EvtChar); });
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
  DWORD internalCount = 0;
  if (kind != TransferKind::kWaitEvent) {
    if (transferred == nullptr) transferred = &internalCount;
    *transferred = 0;
  }
  if (!Begin()) return lastError_;
  if (ioEvent_ == nullptr && (overlapped != nullptr || timeoutMs != INFINITE))
    return lastError_ = ERROR_INVALID_FUNCTION;

  if (kind == TransferKind::kRead && nonBlockingReads_ && overlapped == nullptr) {
    // Ask only for what has arrived: some serial drivers keep an overlapped read of an empty
    // port pending despite the non-blocking time-outs.
    COMSTAT status;
    if (TakeStatus(&status)) {
      if (status.cbInQue == 0) return lastError_;
      if (status.cbInQue < count) count = status.cbInQue;
    }
  }

  // Without the caller's record, an overlapped port's transfer runs on one of this call's own.
  OVERLAPPED internalRecord = {};
  internalRecord.hEvent = ioEvent_;
  OVERLAPPED* record = overlapped == nullptr && ioEvent_ != nullptr ? &internalRecord : overlapped;

  const BOOL done =
      kind == TransferKind::kRead    ? ReadFile(portHandle_, buffer, count, transferred, record)
      : kind == TransferKind::kWrite ? WriteFile(portHandle_, buffer, count, transferred, record)
                                     : WaitCommEvent(portHandle_, &eventBits_, record);
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
    DWORD* count = kind == TransferKind::kWaitEvent ? &ignored : transferred;
    if (GetOverlappedResult(portHandle_, record, count, FALSE)) return 0;
    return static_cast<LONG>(GetLastError());
  }
  const LONG code = wait == WAIT_TIMEOUT ? ERROR_TIMEOUT : static_cast<LONG>(GetLastError());
  // The record and the count live on this call's stack: the cancelled transfer must have
  // finished before they go away. Whatever it transferred meanwhile is not reported. Only this
  // transfer is cancelled: a read the caller keeps outstanding on its own record goes on.
  CancelTransfer(record);
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
  const DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND ? 1 : error == ERROR_ACCESS_DENIED ? 2 : -1;
}

LONG CSerial::SetupPinned(DWORD baudRate, BYTE dataBits, BYTE parity, BYTE stopBits,
                          DWORD writeLimitMs) {
  DCB dcb;
  if (!Begin() || !ReadState(&dcb)) return lastError_;
  SetLine(&dcb, baudRate, dataBits, parity, stopBits);
  dcb.fBinary = dcb.fTXContinueOnXoff = TRUE;
  dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fDsrSensitivity = FALSE;
  dcb.fOutX = dcb.fInX = FALSE;
  dcb.fErrorChar = dcb.fNull = dcb.fAbortOnError = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  COMMTIMEOUTS timeouts;
  if (!Keep(SetCommState(portHandle_, &dcb)) || !Keep(GetCommTimeouts(portHandle_, &timeouts)))
    return lastError_;
  timeouts.WriteTotalTimeoutMultiplier = 0;
  timeouts.WriteTotalTimeoutConstant = writeLimitMs;
  Keep(SetCommTimeouts(portHandle_, &timeouts));
  return lastError_;
}

LONG CSerial::BytesWaiting(DWORD* count) {
  *count = 0;
  COMSTAT status;
  if (!Begin() || !Keep(TakeStatus(&status))) return lastError_;
  *count = status.cbInQue;
  return lastError_;
}

LONG CSerial::TakeOverlappedResult(OVERLAPPED* record, DWORD* transferred) {
  *transferred = 0;
  if (Begin()) Keep(GetOverlappedResult(portHandle_, record, transferred, FALSE));
  return lastError_;
}

void CSerial::CancelTransfer(OVERLAPPED* record) {
  if (portHandle_ == nullptr) return;
  CancelIoEx(portHandle_, record);
  DWORD ignored = 0;
  GetOverlappedResult(portHandle_, record, &ignored, TRUE);
}

LONG CSerial::PurgeBuffers() {
  if (Begin()) Keep(PurgeComm(portHandle_, kPurgeBoth));
  return lastError_;
}

LONG CSerial::SendBreak() {
  if (Begin()) {
    SetCommBreak(portHandle_);
    ::Sleep(kBreakMs);
    ClearCommBreak(portHandle_);
  }
  return lastError_;
}

DWORD CSerial::TakeEventType() {
  const DWORD events = eventBits_ & eventMask_;
  eventBits_ = 0;
  return events;
}

DWORD CSerial::GetCommErrors() {
  if (!Begin() || !Keep(TakeStatus(nullptr))) return 0;
  const DWORD errors = unreportedErrors_;
  unreportedErrors_ = 0;
  return errors;
}

bool CSerial::ModemLineOn(DWORD line) {
  lastError_ = 0;
  DWORD status = 0;
  return Keep(GetCommModemStatus(portHandle_, &status)) && (status & line) != 0;
}

LONG CSerial::WriteByte(BYTE value) {
  DWORD written = 0;
  return Write(&value, 1, &written, nullptr, kWriteByteTimeoutMs);
}

BOOL CSerial::CancelPendingIo() {
  return CancelIo(portHandle_);
}

}  // namespace zol::win32
