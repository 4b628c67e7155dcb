#include "trace/tracing_hid_bus.h"

namespace zol {

bool TracingHidBus::PathAt(uint32_t index, char* path, size_t size) {
  bool found = inner_.PathAt(index, path, size);
  if (found) log_.Line("hid interface %u %s", index, path);
  return found;
}

HidHandle TracingHidBus::OpenForQuery(const char* path) {
  HidHandle handle = inner_.OpenForQuery(path);
  log_.Line("hid open for attributes -> %s", handle ? "ok" : "failed");
  queryHandle_ = handle;
  return handle;
}

HidHandle TracingHidBus::Open(const char* path) {
  HidHandle handle = inner_.Open(path);
  log_.Line("hid open -> %s", handle ? "ok" : "failed");
  return handle;
}

void TracingHidBus::Close(HidHandle handle) {
  if (handle != 0 && handle == queryHandle_) {
    queryHandle_ = 0;
  } else {
    log_.Line("hid close");
    ++closes_;
  }
  inner_.Close(handle);
}

bool TracingHidBus::Attributes(HidHandle handle, HidAttributes* attributes) {
  bool ok = inner_.Attributes(handle, attributes);
  if (ok) {
    log_.Line("hid attributes vendor %04X product %04X version %04X", attributes->vendorId,
              attributes->productId, attributes->versionNumber);
  } else {
    log_.Line("hid attributes unreadable");
  }
  return ok;
}

bool TracingHidBus::ReportLengths(HidHandle handle, HidReportLengths* lengths) {
  bool ok = inner_.ReportLengths(handle, lengths);
  if (ok) log_.Line("hid report lengths in %u out %u", lengths->input, lengths->output);
  return ok;
}

bool TracingHidBus::SetInputBuffers(HidHandle handle, uint32_t count) {
  bool ok = inner_.SetInputBuffers(handle, count);
  log_.Line("hid input buffers %u -> %s", count, ok ? "ok" : "refused");
  return ok;
}

uint32_t TracingHidBus::Write(HidHandle handle, const uint8_t* report, size_t length,
                              uint32_t timeoutMs) {
  const uint32_t error = inner_.Write(handle, report, length, timeoutMs);
  log_.Bytes(error == 0 ? "hid out" : "hid out failed", report, length < 9 ? length : 9);
  if (error != 0) log_.Line("hid write error %u", error);
  return error;
}

HidReadResult TracingHidBus::TakeReport(HidHandle handle, uint8_t* buffer, size_t length,
                                        uint32_t* error) {
  HidReadResult result = inner_.TakeReport(handle, buffer, length, error);
  if (result == HidReadResult::Report) log_.Bytes("hid in", buffer, length < 9 ? length : 9);
  if (result == HidReadResult::Failed) log_.Line("hid read failed, error %u", *error);
  return result;
}

}  // namespace zol
