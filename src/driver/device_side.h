// How the driver object obtains its device side. The module linked into the DLL provides
// AttachDeviceSide: the real connection in zol.dll, a scripted one in test builds.
#pragma once

#include "connection/device_service.h"
#include "core/shared_state.h"
#include "input/host_link.h"

namespace zol {

struct DriverParts {
  SharedState& shared;
  HostLink& host;
};

// Called once, when the driver object is constructed; the result lives as long as the module.
DeviceService& AttachDeviceSide(const DriverParts& parts);

}  // namespace zol
