// The Windows services the device side runs on, in one object.
#pragma once

#include "connection/device_core.h"
#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_hid_bus.h"
#include "platform/win32/win32_key_injector.h"
#include "platform/win32/win32_serial_port.h"
#include "platform/win32/win32_share_section.h"

namespace zol::win32 {

// Owns one of each platform object; platform() hands them to a DeviceCore, which must not
// outlive this object:
//
//   static Win32Platform windows;
//   static DeviceCore device(windows.platform(), parts.shared, parts.host, parts.control);
class Win32Platform {
 public:
  Win32Platform() = default;
  Win32Platform(const Win32Platform&) = delete;
  Win32Platform& operator=(const Win32Platform&) = delete;

  Platform platform() { return Platform{clock_, hidBus_, serialPorts_, shareSection_, keys_}; }

 private:
  Win32Clock clock_;
  Win32HidBus hidBus_;
  Win32SerialPortFactory serialPorts_;
  Win32ShareSection shareSection_;
  Win32KeyInjector keys_;
};

}  // namespace zol::win32
