// A HID bus that reports discovery and every report to the trace.
#pragma once

#include "hid/hid_bus.h"
#include "trace/trace_log.h"

namespace zol {

class TracingHidBus final : public HidBus {
 public:
  TracingHidBus(HidBus& inner, TraceLog& log) : inner_(inner), log_(log) {}

  bool BeginList() override { return inner_.BeginList(); }
  bool PathAt(uint32_t index, char* path, size_t size) override;
  void EndList() override { inner_.EndList(); }
  HidHandle Open(const char* path, bool overlapped) override;
  void Close(HidHandle handle) override;
  bool Attributes(HidHandle handle, HidAttributes* attributes) override;
  bool ReportLengths(HidHandle handle, HidReportLengths* lengths) override;
  bool Write(HidHandle handle, const uint8_t* report, size_t length) override;
  HidReadResult ReadNow(HidHandle handle, uint8_t* buffer, size_t length) override;

  // Handles closed so far: lets the trace tell a lost display from an acknowledged frame.
  uint32_t closeCount() const { return closes_; }

 private:
  uint32_t closes_ = 0;
  HidBus& inner_;
  TraceLog& log_;
};

}  // namespace zol
