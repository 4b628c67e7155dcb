// What the serial packet protocol needs of a serial port.
#pragma once

#include <cstdint>
#include <memory>

namespace zol {

// Results are Windows error codes: 0 for success. The Windows build wraps CSerial; tests use
// a simulated display or a recorder.
class SerialPort {
 public:
  virtual ~SerialPort() = default;  // closes the port if it is open
  // Opens the named port (for example "COM3") with overlapped I/O, the system's queue sizes
  // and non-blocking reads.
  virtual uint32_t Open(const char* name) = 0;
  // Line settings; parity and stop bits use the Windows device-control-block values.
  virtual uint32_t Setup(uint32_t baud, uint8_t dataBits, uint8_t parity, uint8_t stopBits) = 0;
  // Returns at once with the bytes already received (possibly none); *received gets their
  // number.
  virtual uint32_t Read(uint8_t* buffer, uint32_t count, uint32_t* received) = 0;
  // Writes the bytes, giving up after timeoutMs.
  virtual uint32_t Write(const uint8_t* data, uint32_t count, uint32_t timeoutMs) = 0;
  // Discards both queues and releases the port.
  virtual uint32_t Close() = 0;
};

class SerialPortFactory {
 public:
  virtual ~SerialPortFactory() = default;
  virtual std::unique_ptr<SerialPort> Create() = 0;
};

}  // namespace zol
