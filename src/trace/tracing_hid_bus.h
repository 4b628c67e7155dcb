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
  HidHandle OpenForQuery(const char* path) override;
  HidHandle Open(const char* path) override;
  void Close(HidHandle handle) override;
  bool Attributes(HidHandle handle, HidAttributes* attributes) override;
  bool ReportLengths(HidHandle handle, HidReportLengths* lengths) override;
  bool SetInputBuffers(HidHandle handle, uint32_t count) override;
  uint32_t Write(HidHandle handle, const uint8_t* report, size_t length,
                 uint32_t timeoutMs) override;
  HidReadResult TakeReport(HidHandle handle, uint8_t* buffer, size_t length,
                           uint32_t* error) override;
  uintptr_t InputEvent() override { return inner_.InputEvent(); }

  // Handles for reading and writing closed so far: lets the trace tell a lost display from an
  // acknowledged frame.
  uint32_t closeCount() const { return closes_; }

 private:
  uint32_t closes_ = 0;
  // Handles opened without access rights, whose closing is not a loss of the display.
  HidHandle queryHandle_ = 0;
  HidBus& inner_;
  TraceLog& log_;
};

}  // namespace zol
