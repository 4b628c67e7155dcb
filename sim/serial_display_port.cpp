#include "sim/serial_display_port.h"

namespace zol::sim {

class SimSerialPortFactory::Port : public SerialPort {
 public:
  explicit Port(SimSerialPortFactory& factory) : factory_(factory) {}
  ~Port() override { Close(); }

  uint32_t Open(const char* name) override {
    if (open_) return kSimErrorAlreadyInitialized;
    if (name == nullptr) return kSimErrorFileNotFound;
    if (!factory_.portName_.empty() && factory_.portName_ != name) return kSimErrorFileNotFound;
    if (factory_.portOpen_) return error_code::kAccessDenied;
    if (factory_.openResult_ != 0) return factory_.openResult_;
    open_ = true;
    factory_.portOpen_ = true;
    ++factory_.openCount_;
    return 0;
  }

  uint32_t Setup(uint32_t baud, uint8_t dataBits, uint8_t parity, uint8_t stopBits) override {
    if (!open_) return kSimErrorInvalidHandle;
    ++factory_.setupCount_;
    factory_.lineSettings_ = {baud, dataBits, parity, stopBits};
    return 0;
  }

  uint32_t Read(uint8_t* buffer, uint32_t count, uint32_t* received) override {
    *received = 0;
    if (!open_) return kSimErrorInvalidHandle;
    ++factory_.readCount_;
    if (factory_.readResult_ != 0) return factory_.readResult_;
    *received = static_cast<uint32_t>(factory_.display_.Transmit(buffer, count));
    return 0;
  }

  uint32_t Write(const uint8_t* data, uint32_t count, uint32_t timeoutMs) override {
    if (!open_) return kSimErrorInvalidHandle;
    ++factory_.writeCount_;
    factory_.lastWriteTimeoutMs_ = timeoutMs;
    if (factory_.writeResult_ != 0) return factory_.writeResult_;
    factory_.display_.Receive(data, count);
    return 0;
  }

  uint32_t Close() override {
    if (!open_) return 0;
    open_ = false;
    factory_.portOpen_ = false;
    ++factory_.closeCount_;
    return 0;
  }

 private:
  SimSerialPortFactory& factory_;
  bool open_ = false;
};

SimSerialPortFactory::SimSerialPortFactory(SerialDisplay& display, std::string portName)
    : display_(display), portName_(std::move(portName)) {}

std::unique_ptr<SerialPort> SimSerialPortFactory::Create() {
  return std::make_unique<Port>(*this);
}

}  // namespace zol::sim
