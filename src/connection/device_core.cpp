#include "connection/device_core.h"

namespace zol {

DeviceCore::DeviceCore(const Platform& platform, SharedState& shared, HostLink& host,
                       DriverControl& control)
    : input_(host, platform.keyInjector, platform.clock, shared),
      hid_(platform.hidBus, platform.clock, shared, ack_, input_),
      serial_(platform.serialPorts, platform.clock, shared, ack_, input_),
      cells_(hid_, serial_, flags_, shared),
      connection_(platform.clock, shared, ack_, flags_, hid_, serial_, cells_, control),
      sharing_(platform.shareSection, serial_, connection_) {}

int DeviceCore::Connect(const char* portName) {
  parked_ = false;
  return connection_.Connect(portName);
}

void DeviceCore::Disconnect() {
  connection_.Disconnect();
  parked_ = true;
}

void DeviceCore::Suspend(int32_t flag) {
  if (flag != 0) {
    connection_.Disconnect();
  } else {
    parked_ = false;
    connection_.Connect(connection_.portName());
  }
}

void DeviceCore::WriteText(const uint8_t* dots, int32_t count) {
  cells_.SendTextCells(dots, count);
}

void DeviceCore::WriteAll(const uint8_t* dots, int32_t count) {
  cells_.SendAllCells(dots, count);
}

void DeviceCore::Clear() {
  cells_.SendBlankCells();
}

void DeviceCore::PollTick() {
  if (parked_) return;
  if (!sharing_.ServicePortSharing()) return;
  connection_.PollLink();
}

void DeviceCore::Shutdown() {
  parked_ = true;
  connection_.CloseAll();
  sharing_.Release();
}

}  // namespace zol
