#include "trace/tracing_hid_bus.h"

namespace zol {

bool TracingHidBus::PathAt(uint32_t index, char* path, size_t size) {
  bool found = inner_.PathAt(index, path, size);
  if (found) log_.Line("hid interface %u %s", index, path);
  return found;
}

HidHandle TracingHidBus::Open(const char* path, bool overlapped) {
  HidHandle handle = inner_.Open(path, overlapped);
  log_.Line("hid open%s -> %s", overlapped ? " (read channel)" : "", handle ? "ok" : "failed");
  return handle;
}

void TracingHidBus::Close(HidHandle handle) {
  log_.Line("hid close");
  ++closes_;
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

bool TracingHidBus::Write(HidHandle handle, const uint8_t* report, size_t length) {
  bool ok = inner_.Write(handle, report, length);
  log_.Bytes(ok ? "hid out" : "hid out failed", report, length < 9 ? length : 9);
  return ok;
}

HidReadResult TracingHidBus::ReadNow(HidHandle handle, uint8_t* buffer, size_t length) {
  HidReadResult result = inner_.ReadNow(handle, buffer, length);
  if (result == HidReadResult::Report) log_.Bytes("hid in", buffer, length < 9 ? length : 9);
  if (result == HidReadResult::Failed) log_.Line("hid read failed");
  return result;
}

}  // namespace zol
