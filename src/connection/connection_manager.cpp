#include "connection/connection_manager.h"

namespace zol {

ConnectionManager::ConnectionManager(Clock& clock, SharedState& shared, FrameAck& ack,
                                     LinkFlags& flags, HidLink& hid, SerialLink& serial,
                                     CellOutput& cells, DriverControl& control)
    : clock_(clock),
      shared_(shared),
      ack_(ack),
      flags_(flags),
      hid_(hid),
      serial_(serial),
      cells_(cells),
      control_(control) {}

int ConnectionManager::Connect(const char* name) {
  flags_ = LinkFlags{};
  StorePortName(name);
  CloseAll();
  WaitTicks(clock_, kSettleMs);
  const int kind = hid_.FindHidDisplay();
  if (kind == kHid40 || kind == kHid80) return ConnectHid(kind);
  return ConnectSerial();
}

void ConnectionManager::StorePortName(const char* name) {
  if (name == nullptr) name = "";
  if (name != portName_) {
    size_t length = 0;
    while (length < kPortNameSize - 1 && name[length] != '\0') {
      portName_[length] = name[length];
      ++length;
    }
    portName_[length] = '\0';
  }
  for (char* c = portName_; *c != '\0'; ++c) {
    if (*c >= 'a' && *c <= 'z') *c = static_cast<char>(*c - 'a' + 'A');
  }
}

int ConnectionManager::ConnectHid(int kind) {
  connecting_ = 1;
  const int answered = hid_.HidHandshake();
  connecting_ = 0;
  if (!answered) {
    // The model flags are still clear, so Disconnect would not close the device.
    hid_.CloseDevice();
    return 0;
  }
  if (kind == kHid40) {
    flags_.hid40Link = 1;
  } else {
    flags_.hid80Link = 1;
  }
  if (shared_.textCellCount.load() == 0) shared_.textCellCount = kind == kHid40 ? 40 : 80;
  shared_.statusCellCount = 0;
  return 1;
}

int ConnectionManager::ConnectSerial() {
  if (!serial_.OpenSerialPort(portName_)) {
    Disconnect();
    return 0;
  }
  // A new port starts without the time-outs of an earlier one: after the driver suspended
  // itself on repeated time-outs the count still blocks every send, the identify request
  // included, and SetSuspended(0) could never reconnect.
  serial_.setSerialRetryCount(0);
  connecting_ = 1;
  const int identified = serial_.SerialHandshake(portName_);
  connecting_ = 0;
  if (!identified) {
    Disconnect();
    return 0;
  }
  return 1;
}

void ConnectionManager::Disconnect() {
  if (flags_.Hid()) {
    if (hid_.DeviceOpen()) {
      control_.PostClear();
      hid_.CloseDevice();
    }
  } else if (serial_.PortOpen()) {
    control_.PostClear();
    serial_.ClosePort();
  }
}

void ConnectionManager::CloseAll() {
  hid_.CloseDevice();
  serial_.ClosePort();
}

void ConnectionManager::PollLink() {
  if (connecting_ != 0 || shared_.suspended.load() != 0) return;
  if (flags_.Hid()) {
    PollHid();
  } else {
    PollSerial();
  }
}

void ConnectionManager::PollHid() {
  // A lost display is searched for every tick and taken back without a handshake. It comes
  // back blank, so it gets the cell buffer at once rather than at the host's next write.
  if (!hid_.DeviceOpen()) {
    if (hid_.FindHidDisplay() != kHidNone) cells_.ResendCells();
    return;
  }

  uint8_t report[8];
  if (hid_.ReadHidReport(report) == 9) {
    hid_.HandleHidInput(report);
    return;
  }
  if (ack_.ackPending != 0) {
    if (clock_.Now() - ack_.lastFrameTick > kHidAckTimeoutMs) {
      // Reconnect without the clear that Disconnect queues: it would run after the resend
      // below and leave the display blank while the host believes its text is shown.
      hid_.CloseDevice();
      ack_.ackPending = 0;
      hid_.DropQueue();
      if (hid_.FindHidDisplay() != kHidNone) cells_.ResendCells();
    }
    return;
  }
  hid_.SendNextQueuedFrame(flags_.hid40Link != 0);
}

void ConnectionManager::PollSerial() {
  if (serial_.serialRetryCount() == kSerialTimeoutsBeforeSuspend && serial_.PortOpen()) {
    serial_.setSerialRetryCount(0);
  }
  if (!serial_.PortOpen()) return;

  serial_.ReadAndDispatch(kSerialReadBytes);
  if (ack_.ackPending != 0 && clock_.Now() - ack_.lastFrameTick > kSerialAckTimeoutMs) {
    const uint8_t timeouts = serial_.serialRetryCount();
    serial_.setSerialRetryCount(static_cast<uint8_t>(timeouts + 1));
    ack_.ackPending = 0;
    if (timeouts + 1 >= kSerialTimeoutsBeforeSuspend) {
      // The disconnect runs as the next command on this thread.
      control_.PostSelfSuspend();
      return;
    }
  }
  if (ack_.ackPending == 0 && serial_.deferredPending()) serial_.SendDeferredFrame();
}

}  // namespace zol
