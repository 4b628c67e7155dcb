// The driver's serial port on Windows: CSerial opened with the system's queue sizes and
// overlapped I/O, read as bytes arrive and written with a time-out.
//
// How arrival is noticed. A one-byte overlapped read stays outstanding with read time-outs of
// zero (a read then waits until its count of bytes has arrived), and its event is what the
// worker thread waits on: it completes as soon as the first byte arrives, and Read then takes
// that byte and everything else the port holds (its count from ClearCommError, read at once).
// This works alike on Windows and under Wine. The alternatives do not: WaitCommEvent with
// EV_RXCHAR ends aborted under Wine on a pty, and an overlapped read with the "return at once,
// or wait for the first byte" time-outs (MAXDWORD, MAXDWORD, n) stays pending under Wine even
// when bytes arrive, as does one with the non-blocking time-outs (MAXDWORD, 0, 0).
#pragma once

#include <windows.h>

#include <memory>

#include "platform/win32/c_serial.h"
#include "serial/serial_port.h"

namespace zol::win32 {

class Win32SerialPort : public SerialPort {
 public:
  Win32SerialPort() = default;
  ~Win32SerialPort() override;
  Win32SerialPort(const Win32SerialPort&) = delete;
  Win32SerialPort& operator=(const Win32SerialPort&) = delete;

  uint32_t Open(const char* name) override;
  uint32_t Setup(uint32_t baud, uint8_t dataBits, uint8_t parity, uint8_t stopBits) override;
  uint32_t Read(uint8_t* buffer, uint32_t count, uint32_t* received) override;
  uint32_t Write(const uint8_t* data, uint32_t count, uint32_t timeoutMs) override;
  uint32_t Close() override;
  uintptr_t InputEvent() override { return reinterpret_cast<uintptr_t>(arrivalEvent_); }

 private:
  // Read, less the reset of the event after a failure.
  uint32_t TakeArrived(uint8_t* buffer, uint32_t count, uint32_t* received);
  // Starts the one-byte read that completes when the next byte arrives.
  uint32_t WaitForArrival();

  CSerial serial_;  // closes the port when destroyed
  HANDLE arrivalEvent_ = nullptr;
  OVERLAPPED arrivalRecord_{};
  uint8_t arrivalByte_ = 0;
  bool arrivalPending_ = false;
};

class Win32SerialPortFactory : public SerialPortFactory {
 public:
  // Null when the object cannot be allocated.
  std::unique_ptr<SerialPort> Create() override;
};

}  // namespace zol::win32
