// Host callbacks as the trace sees them: every key event and device-data record.
#pragma once

#include "input/host_link.h"
#include "trace/trace_log.h"

namespace zol {

class TracingHostLink final : public HostLink {
 public:
  TracingHostLink(HostLink& inner, TraceLog& log) : inner_(inner), log_(log) {}

  bool HostSet() override { return inner_.HostSet(); }
  void PostKeyEvent(const char* name, int32_t value) override {
    log_.Line("key %s %d", name ? name : "(null)", value);
    inner_.PostKeyEvent(name, value);
  }
  void DeviceData(const uint8_t* data, int32_t length) override {
    log_.Bytes("device data", data, length > 0 ? static_cast<size_t>(length) : 0);
    inner_.DeviceData(data, length);
  }

 private:
  HostLink& inner_;
  TraceLog& log_;
};

}  // namespace zol
