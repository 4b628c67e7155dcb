// Simulated displays behind Wine's own HID class stack: the test minidriver (driver/) is
// installed into the prefix, and each plugged display is a root-enumerated device of it whose
// reports travel through a named pipe (served by HidPipeServer) to the simulated display.
//
// Plugging creates a new device instance and waits until its HID interface is listed;
// unplugging removes the instance through plug and play and waits until the interface is gone.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace zol::hidstack {

// Installs the driver package lying beside this program (hidstack/zol_virtual_hid.sys and
// .inf) and removes devices an earlier run left behind. Done once per program; later calls
// return the first result.
bool InstallDriver(std::string* error);

// The path of a present HID interface whose path names vendor and product, or "" when none
// appears within waitMs.
std::string FindInterface(uint16_t vendor, uint16_t product, DWORD waitMs);

class VirtualHidDevice {
 public:
  VirtualHidDevice() = default;
  ~VirtualHidDevice();
  VirtualHidDevice(const VirtualHidDevice&) = delete;
  VirtualHidDevice& operator=(const VirtualHidDevice&) = delete;

  // pipePath is the display's pipe (\\.\pipe\name), already served.
  bool Plug(const std::string& pipePath, uint16_t vendor, uint16_t product, uint16_t version,
            std::string* error);
  bool Unplug(std::string* error = nullptr);

  bool plugged() const { return !instanceId_.empty(); }
  const std::string& instanceId() const { return instanceId_; }
  const std::string& interfacePath() const { return interfacePath_; }

 private:
  std::string instanceId_;
  std::string interfacePath_;
  uint16_t vendor_ = 0;
  uint16_t product_ = 0;
};

}  // namespace zol::hidstack
