// Everything of the driver that runs on the worker thread and talks to the display, composed
// from one piece per subsystem over the platform's interfaces.
#pragma once

#include "connection/device_service.h"
#include "connection/driver_control.h"
#include "connection/share_section.h"
#include "core/clock.h"
#include "core/shared_state.h"
#include "hid/hid_bus.h"
#include "input/host_link.h"
#include "input/key_injector.h"
#include "serial/serial_port.h"

namespace zol {

// The platform services the device side runs on.
struct Platform {
  Clock& clock;
  HidBus& hidBus;
  SerialPortFactory& serialPorts;
  ShareSection& shareSection;
  KeyInjector& keyInjector;
};

}  // namespace zol
