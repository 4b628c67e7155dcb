#include "connection/device_core.h"

namespace zol {

DeviceCore::DeviceCore(const Platform& platform, SharedState& shared, HostLink& host)
    : shared_(shared),
      input_(host, platform.keyInjector, platform.clock, shared),
      hid_(platform.hidBus, platform.clock, shared, ack_, input_),
      serial_(platform.serialPorts, platform.clock, shared, ack_, input_),
      cells_(hid_, serial_, flags_, shared),
      connection_(platform.clock, shared, ack_, flags_, hid_, serial_, cells_),
      sharing_(platform.shareSection, serial_, connection_) {}

int DeviceCore::Connect(const char* portName) {
  parked_ = false;
  // A suspension belongs to the session that ended; while it stands the serial link sends
  // nothing, not even the identify request, so a reopened driver could never find the display.
  shared_.suspended = 0;
  sharing_.EndLoan();
  return connection_.Connect(portName);
}

void DeviceCore::Disconnect() {
  connection_.Disconnect();
  sharing_.EndLoan();
  parked_ = true;
}

void DeviceCore::Suspend(int32_t flag) {
  if (flag != 0) {
    connection_.Disconnect();
  } else {
    parked_ = false;
    connection_.Resume();
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
  // Input is taken on every wake of the worker thread; the tick takes it too, for a platform
  // that cannot wake the thread on input.
  connection_.ServiceInput();
  connection_.PollLink();
}

void DeviceCore::ServiceInput() {
  if (parked_ || sharing_.portReleased()) return;
  connection_.ServiceInput();
}

size_t DeviceCore::InputEvents(uintptr_t* events, size_t max) {
  if (parked_ || sharing_.portReleased()) return 0;
  return connection_.InputEvents(events, max);
}

void DeviceCore::Shutdown() {
  parked_ = true;
  connection_.CloseAll();
  sharing_.EndLoan();
  sharing_.Release();
}

}  // namespace zol
