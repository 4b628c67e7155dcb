// What the input translation needs of the host boundary.
#pragma once

#include <cstdint>

namespace zol {

// Implemented by the driver object (and by recorders in tests). Called on the worker thread.
class HostLink {
 public:
  virtual ~HostLink() = default;
  // True while the host has a callback object set.
  virtual bool HostSet() = 0;
  // Posts one key event towards the host's thread without waiting. The name is copied before
  // the call returns, so the caller may reuse its buffer at once; every event reaches the
  // host with the name it was posted with.
  virtual void PostKeyEvent(const char* name, int32_t value) = 0;
  // Calls the host's OnDeviceData synchronously; does nothing without a host.
  virtual void DeviceData(const uint8_t* data, int32_t length) = 0;
};

}  // namespace zol
