// A serial port that reports what crosses it to the trace.
#pragma once

#include <memory>

#include "serial/serial_port.h"
#include "trace/trace_log.h"

namespace zol {

class TracingSerialPortFactory final : public SerialPortFactory {
 public:
  TracingSerialPortFactory(SerialPortFactory& inner, TraceLog& log) : inner_(inner), log_(log) {}
  std::unique_ptr<SerialPort> Create() override;

 private:
  SerialPortFactory& inner_;
  TraceLog& log_;
};

}  // namespace zol
