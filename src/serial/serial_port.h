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
  // Opens the named port (for example "COM3") with overlapped I/O and the system's queue sizes.
  virtual uint32_t Open(const char* name) = 0;
  // Line settings; parity and stop bits use the Windows device-control-block values. Everything
  // else the link relies on is set too, whatever the port's previous user left behind: binary
  // mode, no XON/XOFF and no hardware output flow control (either would hold or swallow bytes
  // of the packets), no abort on a line error, distinct XON and XOFF characters, DTR and RTS
  // on, and writes that the port itself gives up after 1000 ms.
  virtual uint32_t Setup(uint32_t baud, uint8_t dataBits, uint8_t parity, uint8_t stopBits) = 0;
  // Returns at once with the bytes that have arrived (possibly none); *received gets their
  // number, also when the port failed after them.
  virtual uint32_t Read(uint8_t* buffer, uint32_t count, uint32_t* received) = 0;
  // Writes the bytes, giving up after timeoutMs; a write cut short is a failure.
  virtual uint32_t Write(const uint8_t* data, uint32_t count, uint32_t timeoutMs) = 0;
  // Discards both queues and releases the port.
  virtual uint32_t Close() = 0;
  // A waitable object (a Windows event handle) signalled while bytes may have arrived that
  // Read has not taken yet; 0 when the port has none and input is polled.
  virtual uintptr_t InputEvent() { return 0; }
};

class SerialPortFactory {
 public:
  virtual ~SerialPortFactory() = default;
  virtual std::unique_ptr<SerialPort> Create() = 0;
};

}  // namespace zol
