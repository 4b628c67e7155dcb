#include "platform/win32/win32_serial_port.h"

#include <new>

namespace zol::win32 {

uint32_t Win32SerialPort::Open(const char* name) {
  return static_cast<uint32_t>(serial_.Open(name, 0, 0, true));
}

uint32_t Win32SerialPort::Setup(uint32_t baud, uint8_t dataBits, uint8_t parity, uint8_t stopBits) {
  return static_cast<uint32_t>(serial_.Setup(baud, dataBits, parity, stopBits));
}

uint32_t Win32SerialPort::Read(uint8_t* buffer, uint32_t count, uint32_t* received) {
  DWORD read = 0;
  const LONG result = serial_.Read(buffer, count, &read, nullptr, INFINITE);
  *received = read;
  return static_cast<uint32_t>(result);
}

uint32_t Win32SerialPort::Write(const uint8_t* data, uint32_t count, uint32_t timeoutMs) {
  return static_cast<uint32_t>(serial_.Write(data, count, nullptr, nullptr, timeoutMs));
}

uint32_t Win32SerialPort::Close() {
  return static_cast<uint32_t>(serial_.Close());
}

std::unique_ptr<SerialPort> Win32SerialPortFactory::Create() {
  return std::unique_ptr<SerialPort>(new (std::nothrow) Win32SerialPort());
}

}  // namespace zol::win32
