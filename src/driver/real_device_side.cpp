// The device side of zol.dll: the connection over the Windows platform services, HID first and
// the serial port as fallback, with port sharing through the named shared block.
#include "connection/device_core.h"
#include "driver/device_side.h"
#include "platform/win32/win32_platform.h"

namespace zol {

DeviceService& AttachDeviceSide(const DriverParts& parts) {
  static win32::Win32Platform windows;
  static DeviceCore device(windows.platform(), parts.shared, parts.host, parts.control);
  return device;
}

}  // namespace zol
