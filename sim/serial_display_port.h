// Serves a SerialDisplay as the driver's serial port, in-process: what the driver writes
// reaches the display at once, and a read takes what the display has due at that moment.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/io_failure.h"
#include "serial/serial_port.h"
#include "sim/serial_display.h"

namespace zol::sim {

// Windows error codes the simulated port reports besides access denied
// (error_code::kAccessDenied).
inline constexpr uint32_t kSimErrorFileNotFound = 2;
inline constexpr uint32_t kSimErrorInvalidHandle = 6;
inline constexpr uint32_t kSimErrorNotReady = 21;
inline constexpr uint32_t kSimErrorAlreadyInitialized = 1247;

// Line settings last applied through Setup.
struct SimLineSettings {
  uint32_t baud = 0;
  uint8_t dataBits = 0;
  uint8_t parity = 0;
  uint8_t stopBits = 0;
};

class SimSerialPortFactory : public SerialPortFactory {
 public:
  // Only portName opens (an empty name lets every name open); it opens once at a time.
  explicit SimSerialPortFactory(SerialDisplay& display, std::string portName = "");
  std::unique_ptr<SerialPort> Create() override;

  // Open returns this code (0: the port opens).
  void SetOpenResult(uint32_t code) { openResult_ = code; }
  // Write returns this code; with a non-zero code the bytes are lost.
  void SetWriteResult(uint32_t code) { writeResult_ = code; }
  // Read returns this code; with a non-zero code nothing is read.
  void SetReadResult(uint32_t code) { readResult_ = code; }
  // The port vanishes (a USB-serial adapter unplugged: I/O on the open port fails with
  // ERROR_NOT_READY, opening it with ERROR_FILE_NOT_FOUND) or returns.
  void SetVanished(bool vanished) {
    const uint32_t code = vanished ? kSimErrorNotReady : 0;
    readResult_ = writeResult_ = code;
    openResult_ = vanished ? kSimErrorFileNotFound : 0;
  }

  bool portOpen() const { return portOpen_; }
  int openCount() const { return openCount_; }
  int closeCount() const { return closeCount_; }
  int setupCount() const { return setupCount_; }
  const SimLineSettings& lineSettings() const { return lineSettings_; }
  int readCount() const { return readCount_; }
  int writeCount() const { return writeCount_; }
  uint32_t lastWriteTimeoutMs() const { return lastWriteTimeoutMs_; }

 private:
  class Port;

  SerialDisplay& display_;
  std::string portName_;
  uint32_t openResult_ = 0;
  uint32_t writeResult_ = 0;
  uint32_t readResult_ = 0;
  bool portOpen_ = false;
  int openCount_ = 0;
  int closeCount_ = 0;
  int setupCount_ = 0;
  SimLineSettings lineSettings_;
  int readCount_ = 0;
  int writeCount_ = 0;
  uint32_t lastWriteTimeoutMs_ = 0;
};

}  // namespace zol::sim
