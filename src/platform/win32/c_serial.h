// A small class over the Windows serial-communications functions: opens a port by name,
// configures line settings, flow control, read time-outs and event reporting, and reads and
// writes with an optional time-out over overlapped I/O.
//
// Every operation except TakeEventType, CancelTransfer, CancelPendingIo and ProbePort first
// clears lastError, then keeps the error of the first step that fails there: 0, a Windows error
// code, or E_INVALIDARG. Operations whose result is an error code return lastError. The class
// takes no locks; one thread uses an object at a time, and only one internal-record transfer
// runs at a time.
#pragma once

#include <windows.h>

namespace zol::win32 {

class CSerial {
 public:
  enum Handshake { kHandshakeOff = 0, kHandshakeHardware = 1, kHandshakeSoftware = 2 };
  enum ReadTimeoutMode { kReadNonBlocking = 0, kReadBlocking = 1 };
  // How long Close lets written bytes leave the port: a 42-cell frame takes about 12 ms at
  // 38400 baud.
  static constexpr DWORD kCloseDrainMs = 200;

  CSerial() = default;
  CSerial(const CSerial&) = delete;
  CSerial& operator=(const CSerial&) = delete;

  // The virtual operations, in their slot order.
  virtual ~CSerial();
  // Opens "\\.\" + name. Names of more than 59 characters do not fit the 64-character device
  // path and are refused with ERROR_INVALID_NAME, as is a null name. Queue sizes of 0 keep
  // the system's sizes. Reads are left non-blocking.
  virtual LONG Open(const char* name, DWORD inputQueue, DWORD outputQueue, bool overlapped);
  // Lets what was written leave the port (at most kCloseDrainMs), discards unread input and
  // releases the handles; returns the purge's result.
  virtual LONG Close();
  // Parity and stop bits take the device-control-block values.
  virtual LONG Setup(DWORD baudRate, BYTE dataBits, BYTE parity, BYTE stopBits);
  virtual LONG SetEventChar(BYTE eventChar, bool adjustMask);
  virtual LONG SetEventMask(DWORD mask);
  virtual LONG WaitForEvent(OVERLAPPED* overlapped, DWORD timeoutMs);
  virtual LONG SetHandshake(int mode);
  virtual LONG SetReadTimeoutMode(int mode);
  virtual LONG GetBaudRate();
  virtual LONG GetDataBits();
  virtual LONG GetParity();
  virtual LONG GetStopBits();
  virtual LONG GetHandshake();
  virtual DWORD GetEventMask();
  virtual BYTE GetEventChar();
  // A null text writes nothing.
  virtual LONG WriteText(const char* text, DWORD* written, OVERLAPPED* overlapped, DWORD timeoutMs);
  virtual LONG Write(const void* data, DWORD count, DWORD* written, OVERLAPPED* overlapped,
                     DWORD timeoutMs);
  // In non-blocking mode a read without the caller's record asks only for the bytes the port
  // reports waiting (ClearCommError), so it returns at once even where an overlapped read of an
  // empty port would stay pending. Error flags that query clears are kept for GetCommErrors.
  virtual LONG Read(void* buffer, DWORD count, DWORD* read, OVERLAPPED* overlapped,
                    DWORD timeoutMs);

  // 0 present and free, 1 not found, 2 in use, -1 any other failure. The name is opened as it
  // stands, without the device prefix.
  static int ProbePort(const char* name);
  // Like Setup, and besides it everything a packet link needs whatever the port's previous user
  // left behind (Windows keeps a port's settings from one user to the next): binary mode, no
  // XON/XOFF in either direction, no CTS or DSR output flow control, no DSR sensitivity, no
  // abort on a line error, no error or null character replacement, distinct XON and XOFF
  // characters (SetCommState refuses equal ones), DTR and RTS on, and writes that the port gives
  // up after writeLimitMs.
  LONG SetupPinned(DWORD baudRate, BYTE dataBits, BYTE parity, BYTE stopBits, DWORD writeLimitMs);
  // Bytes received and not read yet (ClearCommError); error flags it clears are kept for
  // GetCommErrors.
  LONG BytesWaiting(DWORD* count);
  // State of a transfer started with the caller's record, without waiting: 0 when it has
  // completed (*transferred set), ERROR_IO_INCOMPLETE while it runs, or its error.
  LONG TakeOverlappedResult(OVERLAPPED* record, DWORD* transferred);
  // Cancels that one transfer and waits until it has finished with its record and buffer.
  void CancelTransfer(OVERLAPPED* record);
  LONG PurgeBuffers();
  LONG SendBreak();
  // The events that occurred and are in the event mask; clears them.
  DWORD TakeEventType();
  // Reads and clears the port's error flags (with those noted by reads since); 0 on failure.
  DWORD GetCommErrors();
  bool IsCtsOn() { return ModemLineOn(MS_CTS_ON); }
  bool IsDsrOn() { return ModemLineOn(MS_DSR_ON); }
  bool IsRingOn() { return ModemLineOn(MS_RING_ON); }
  bool IsRlsdOn() { return ModemLineOn(MS_RLSD_ON); }
  LONG WriteByte(BYTE value);
  BOOL CancelPendingIo();

  LONG lastError() const { return lastError_; }
  bool IsOpen() const { return portHandle_ != nullptr; }

 private:
  enum class TransferKind { kRead, kWrite, kWaitEvent };

  LONG Transfer(TransferKind kind, void* buffer, DWORD count, DWORD* transferred,
                OVERLAPPED* overlapped, DWORD timeoutMs);
  LONG WaitForInternalRecord(TransferKind kind, OVERLAPPED* record, DWORD* transferred,
                             DWORD timeoutMs);
  // The error keeping every operation shares. Begin clears lastError and fails with
  // ERROR_INVALID_HANDLE while the port is closed; Keep passes a step's success on and, when it
  // failed, keeps the calling thread's last error. An operation stops at the first step that
  // fails and returns lastError.
  bool Begin();
  bool Keep(bool succeeded);
  // ClearCommError: the port's status (status may be null), its error flags added to those
  // GetCommErrors reports next.
  bool TakeStatus(COMSTAT* status);
  // Reads the device-control block into dcb.
  bool ReadState(DCB* dcb);
  // Begin, then get(the device-control block); failed when either fails.
  template <class Result, class Get>
  Result QueryState(Result failed, Get get);
  bool ModemLineOn(DWORD line);
  // Waits until the port's output queue is empty, at most limitMs.
  void DrainOutput(DWORD limitMs);

  LONG lastError_ = 0;
  HANDLE portHandle_ = nullptr;
  DWORD eventBits_ = 0;
  DWORD eventMask_ = 0;
  HANDLE ioEvent_ = nullptr;
  // Set while the port's read time-outs are those of kReadNonBlocking.
  bool nonBlockingReads_ = false;
  // Error flags that a status query (TakeStatus) cleared before GetCommErrors could report them.
  DWORD unreportedErrors_ = 0;
};

}  // namespace zol::win32
