// The driver's serial port on Windows: CSerial opened with the system's queue sizes and
// overlapped I/O, read without waiting and written with a time-out.
#pragma once

#include <memory>

#include "platform/win32/c_serial.h"
#include "serial/serial_port.h"

namespace zol::win32 {

class Win32SerialPort : public SerialPort {
 public:
  uint32_t Open(const char* name) override;
  uint32_t Setup(uint32_t baud, uint8_t dataBits, uint8_t parity, uint8_t stopBits) override;
  uint32_t Read(uint8_t* buffer, uint32_t count, uint32_t* received) override;
  uint32_t Write(const uint8_t* data, uint32_t count, uint32_t timeoutMs) override;
  uint32_t Close() override;

 private:
  CSerial serial_;  // closes the port when destroyed
};

class Win32SerialPortFactory : public SerialPortFactory {
 public:
  // Null when the object cannot be allocated.
  std::unique_ptr<SerialPort> Create() override;
};

}  // namespace zol::win32
