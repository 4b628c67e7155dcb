// The device side of zol.dll: the connection over the Windows platform services, HID first and
// the serial port as fallback, with port sharing through the named shared block.
//
// When the environment variable ZOL_TRACE names a file at the first Open, the same device side
// is composed over tracing wrappers that append one timestamped line per connection event,
// packet, report, key event and time-out to that file. Without it no wrapper exists, no file
// is touched and nothing is spent.
#include "connection/device_core.h"
#include "driver/device_side.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32/win32_trace_file.h"
#include "trace/traced_device_side.h"

namespace zol {

DeviceService& AttachDeviceSide(const DriverParts& parts) {
  static win32::Win32Platform windows;
  static win32::Win32TraceFile traceFile;
  if (traceFile.enabled()) {
    static TracedDeviceSide traced(windows.platform(), parts.shared, parts.host, traceFile);
    return traced;
  }
  static DeviceCore device(windows.platform(), parts.shared, parts.host);
  return device;
}

}  // namespace zol
