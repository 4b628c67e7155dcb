// The device side with the I/O trace switched on: the same DeviceCore, composed over tracing
// wrappers of the platform's HID bus and serial ports and of the host link, with a watcher of
// the input translation, and wrapped itself so that connection events and acknowledgement
// time-outs are reported and the collected lines are written out after every command and tick.
#pragma once

#include "connection/device_core.h"
#include "trace/trace_log.h"
#include "trace/tracing_hid_bus.h"
#include "trace/tracing_host_link.h"
#include "trace/tracing_input_watcher.h"
#include "trace/tracing_serial_port.h"

namespace zol {

class TracedDeviceSide final : public DeviceService {
 public:
  TracedDeviceSide(const Platform& platform, SharedState& shared, HostLink& host, TraceSink& sink);

  int Connect(const char* portName) override;
  void Disconnect() override;
  void Suspend(int32_t flag) override;
  void WriteText(const uint8_t* dots, int32_t count) override;
  void WriteAll(const uint8_t* dots, int32_t count) override;
  void Clear() override;
  void PollTick() override;
  void ServiceInput() override;
  size_t InputEvents(uintptr_t* events, size_t max) override {
    return core_.InputEvents(events, max);
  }
  void Shutdown() override;

  DeviceCore& core() { return core_; }

 private:
  struct LinkSnapshot {
    LinkKind kind;
    bool hidOpen;
    bool serialOpen;
    bool released;
    FrameAck ack;
    uint8_t serialRetries;
    uint32_t hidCloses;
    bool recovering;
    uint32_t blanks;
    uint32_t refusedRequests;
  };
  LinkSnapshot Snapshot();
  // Reports what changed on the link during a command or tick; a link the host let go of
  // (closing, suspending) is not reported as lost.
  void ReportChanges(const LinkSnapshot& before, bool lettingGo = false);
  // What the last Disconnect did to the display before the link closed.
  void ReportBlank();
  void ReportLink(const char* event);
  // Runs step between a snapshot and the report of what it changed, then writes the lines out.
  template <typename Step>
  void Traced(Step step) {
    const LinkSnapshot before = Snapshot();
    step();
    ReportChanges(before);
    log_.Flush();
  }

  Clock& clock_;
  SharedState& shared_;
  TraceLog log_;
  TracingHidBus hidBus_;
  TracingSerialPortFactory serialPorts_;
  TracingHostLink host_;
  TracingInputWatcher input_;
  DeviceCore core_;
};

}  // namespace zol
