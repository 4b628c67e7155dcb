// What each command does on the device side. Platform-neutral and header-only: the worker
// thread runs it, and so does the host-operations fuzzer's simulated worker.
#pragma once

#include <cstdint>

#include "connection/device_service.h"
#include "driver/command_channel.h"

namespace zol {

// Runs one command's action; payload holds value bytes and a zero after them (or is null).
// Returns the connect's result for CMD_CONNECT and 0 for every other command. CMD_STOP ends the
// worker's loop and CMD_NOP only completes: neither does anything here.
inline int RunDeviceCommand(DeviceService& device, uint32_t code, const uint8_t* payload,
                            uint32_t value) {
  const int32_t count = static_cast<int32_t>(value);
  switch (code) {
    case CMD_CONNECT:
      return device.Connect(payload != nullptr ? reinterpret_cast<const char*>(payload) : "");
    case CMD_DISCONNECT:
      device.Disconnect();
      break;
    case CMD_SUSPEND:
      device.Suspend(static_cast<int32_t>(value));
      break;
    case CMD_WRITE_TEXT:
      if (payload != nullptr && count > 0) device.WriteText(payload, count);
      break;
    case CMD_WRITE_ALL:
      if (payload != nullptr && count > 0) device.WriteAll(payload, count);
      break;
    case CMD_CLEAR:
      device.Clear();
      break;
    case CMD_POLL:
      device.PollTick();
      break;
    default:
      break;
  }
  return 0;
}

}  // namespace zol
