#include "trace/tracing_serial_port.h"

#include <new>

namespace zol {

namespace {

class TracingSerialPort final : public SerialPort {
 public:
  TracingSerialPort(std::unique_ptr<SerialPort> inner, TraceLog& log)
      : inner_(std::move(inner)), log_(log) {}

  uint32_t Open(const char* name) override {
    uint32_t result = inner_->Open(name);
    log_.Line("serial open %s -> %u", name ? name : "(null)", result);
    return result;
  }
  uint32_t Setup(uint32_t baud, uint8_t dataBits, uint8_t parity, uint8_t stopBits) override {
    uint32_t result = inner_->Setup(baud, dataBits, parity, stopBits);
    log_.Line("serial setup %u %u/%u/%u -> %u", baud, dataBits, parity, stopBits, result);
    return result;
  }
  uint32_t Read(uint8_t* buffer, uint32_t count, uint32_t* received) override {
    uint32_t result = inner_->Read(buffer, count, received);
    if (result != lastReadError_) {
      // A dead port fails every tick; report each change of state once.
      if (result != 0) log_.Line("serial read error %u", result);
      if (result == 0) log_.Line("serial reads work again");
      lastReadError_ = result;
    }
    if (result == 0 && received != nullptr && *received > 0) {
      log_.Bytes("serial rx", buffer, *received <= count ? *received : count);
    }
    return result;
  }
  uint32_t Write(const uint8_t* data, uint32_t count, uint32_t timeoutMs) override {
    uint32_t result = inner_->Write(data, count, timeoutMs);
    log_.Bytes(result == 0 ? "serial tx" : "serial tx failed", data, count);
    return result;
  }
  uint32_t Close() override {
    log_.Line("serial close");
    return inner_->Close();
  }
  uintptr_t InputEvent() override { return inner_->InputEvent(); }

 private:
  std::unique_ptr<SerialPort> inner_;
  TraceLog& log_;
  uint32_t lastReadError_ = 0;
};

}  // namespace

std::unique_ptr<SerialPort> TracingSerialPortFactory::Create() {
  std::unique_ptr<SerialPort> inner = inner_.Create();
  if (!inner) return inner;
  return std::unique_ptr<SerialPort>(new (std::nothrow) TracingSerialPort(std::move(inner), log_));
}

}  // namespace zol
