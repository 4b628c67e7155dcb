#include "connection/connection_manager.h"

#include <algorithm>

#include "core/io_failure.h"

namespace zol {

namespace {

// Pace of the searches for a lost HID display, by how long it has been gone.
constexpr uint32_t kEveryTickSearchMs = 1000;
constexpr uint32_t kHalfSecondSearchMs = 10000;
constexpr uint32_t kHalfSecondMs = 500;
constexpr uint32_t kOneSecondMs = 1000;
// A display lost again this soon after it was found counts as the same absence.
constexpr uint32_t kRelapseMs = 5000;
// Recovery attempts while the port was still held by the cooperating program.
constexpr uint32_t kFastRecoveryIntervalMs = 100;
// While letting go, the display's input is looked at this often for the acknowledgement.
constexpr uint32_t kBlankPollMs = 2;

}  // namespace

ConnectionManager::ConnectionManager(Clock& clock, SharedState& shared, FrameAck& ack,
                                     LinkFlags& flags, HidLink& hid, SerialLink& serial,
                                     CellOutput& cells)
    : clock_(clock),
      shared_(shared),
      ack_(ack),
      flags_(flags),
      hid_(hid),
      serial_(serial),
      cells_(cells) {}

int ConnectionManager::Connect(const char* name) {
  flags_ = LinkFlags{};
  StorePortName(name);
  EndRecovery();
  hidSearch_ = HidSearch{};
  CloseAll();
  // A frame of the link before (the clear that a disconnect queues goes out on a closed link)
  // would otherwise count as unacknowledged on the new one and reconnect it for nothing.
  ack_.ackPending = 0;
  hid_.DropQueue();
  serial_.DropDeferredFrame();
  WaitTicks(clock_, kSettleMs);
  const int kind = hid_.FindHidDisplay();
  if (kind == kHid40 || kind == kHid80) return ConnectHid(kind);
  return ConnectSerial();
}

int ConnectionManager::Resume() {
  const int connected = Connect(portName_);
  // The display was left blank when the link was suspended; it shows the contents again.
  if (connected) cells_.ResendCells();
  RecoverIfSerialSession(connected);
  return connected;
}

void ConnectionManager::ReclaimPort() {
  // A suspension of the driver's own belonged to the link it has just lent out; one the host
  // asked for stays (and keeps the serial link from sending).
  int32_t own = SharedState::kSuspendedByDriver;
  shared_.suspended.compare_exchange_strong(own, 0);
  const int connected = Connect(portName_);
  // The display was left blank when it was lent out; it shows the contents again.
  if (connected) cells_.ResendCells();
  if (!connected && serialSession_ && shared_.suspended.load() == 0) {
    const bool stillHeld = serial_.lastOpenError() == error_code::kAccessDenied;
    LoseSerialDisplay(stillHeld ? kReclaimRetryMs : 0);
  }
}

void ConnectionManager::RecoverIfSerialSession(int connected) {
  if (!connected && serialSession_ && shared_.suspended.load() == 0) LoseSerialDisplay(0);
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
  serialSession_ = false;
  return 1;
}

int ConnectionManager::ConnectSerial() {
  if (!serial_.OpenSerialPort(portName_)) return 0;
  // A new port starts without the time-outs of an earlier one: after the driver suspended
  // itself on repeated time-outs the count still blocks every send, the identify request
  // included, and SetSuspended(0) could never reconnect.
  serial_.setSerialRetryCount(0);
  connecting_ = 1;
  const int identified = serial_.SerialHandshake(portName_);
  connecting_ = 0;
  if (!identified) {
    // No display answered: nothing to blank.
    serial_.ClosePort();
    return 0;
  }
  serialSession_ = true;
  return 1;
}

void ConnectionManager::Disconnect() {
  const uint32_t start = clock_.Now();
  BlankOutcome outcome = BlankOutcome::kNoLink;
  if (DisplayAnswering()) {
    outcome = BlankDisplay();
  } else if (hid_.DeviceOpen() || serial_.PortOpen()) {
    outcome = BlankOutcome::kLinkLost;
  }
  EndRecovery();
  hidSearch_ = HidSearch{};
  CloseAll();
  // Nothing of the closed link awaits an acknowledgement or waits to be sent.
  ack_.ackPending = 0;
  hid_.DropQueue();
  serial_.DropDeferredFrame();
  lastBlank_ = BlankRecord{lastBlank_.count + 1, outcome, clock_.Now() - start};
}

bool ConnectionManager::DisplayAnswering() {
  if (flags_.Hid()) {
    if (!hid_.DeviceOpen() || hid_.DeviceLost()) return false;
    // The poll tick would take the display as lost at its next look.
    return ack_.ackPending == 0 || clock_.Now() - ack_.lastFrameTick <= kHidAckTimeoutMs;
  }
  return serial_.PortOpen() && !serial_.PortFailed() && !recovery_.active &&
         serial_.serialRetryCount() < kSerialTimeoutsBeforeSuspend;
}

ConnectionManager::BlankOutcome ConnectionManager::BlankDisplay() {
  const uint32_t start = clock_.Now();
  hid_.DropQueue();
  serial_.DropDeferredFrame();
  // A frame in flight is given part of the time; the blank then goes out whether or not it
  // was acknowledged.
  AwaitAcknowledgement(start + kBlankInFlightMs);
  ack_.ackPending = 0;
  cells_.SendClosingBlank();
  return AwaitAcknowledgement(start + kBlankLimitMs) ? BlankOutcome::kAcknowledged
                                                     : BlankOutcome::kUnacknowledged;
}

bool ConnectionManager::AwaitAcknowledgement(uint32_t deadline) {
  const bool hid = flags_.Hid();
  for (;;) {
    if (ack_.ackPending == 0) return true;
    if (hid ? hid_.DeviceLost() : serial_.PortFailed()) return false;
    if (Reached(clock_.Now(), deadline)) return false;
    // Keys pressed meanwhile are taken as always.
    if (hid) {
      hid_.ServiceInput();
    } else {
      serial_.ReadAndDispatch(SerialLink::kBytesPerWake);
    }
    if (ack_.ackPending == 0) return true;
    const uint32_t left = MsUntil(clock_.Now(), deadline);
    if (left != 0) clock_.Sleep(std::min(kBlankPollMs, left));
  }
}

void ConnectionManager::CloseAll() {
  hid_.CloseDevice();
  serial_.ClosePort();
}

void ConnectionManager::ServiceInput() {
  if (connecting_ != 0) return;
  const int32_t suspended = shared_.suspended.load();
  if (flags_.Hid()) {
    if (suspended == 0) ServiceHidInput();
  } else if (suspended == 0 || (suspended == SharedState::kSuspendedByDriver && recovery_.active)) {
    ServiceSerialInput();
  }
}

size_t ConnectionManager::InputEvents(uintptr_t* events, size_t max) {
  if (max == 0 || connecting_ != 0) return 0;
  const int32_t suspended = shared_.suspended.load();
  uintptr_t event = 0;
  if (flags_.Hid()) {
    if (suspended == 0) event = hid_.InputEvent();
  } else if (suspended == 0 || (suspended == SharedState::kSuspendedByDriver && recovery_.active)) {
    event = serial_.InputEvent();
  }
  if (event == 0) return 0;
  events[0] = event;
  return 1;
}

void ConnectionManager::ServiceHidInput() {
  if (!hid_.DeviceOpen()) return;
  hid_.ServiceInput();
  // An acknowledgement among the reports lets the next waiting frame go at once.
  if (!hid_.DeviceLost() && ack_.ackPending == 0) hid_.SendNextQueuedFrame(flags_.hid40Link != 0);
  // The search comes with the next tick: commands queued meanwhile (a Close) run first rather
  // than wait behind a device that is present but failing.
  if (hid_.DeviceLost()) LoseHidDisplay();
}

void ConnectionManager::ServiceSerialInput() {
  if (!serial_.PortOpen()) return;
  serial_.ReadAndDispatch(SerialLink::kBytesPerWake);
  if (recovery_.active) {
    if (serial_.PortFailed()) {
      serial_.ClosePort();  // the next attempt opens it again
    } else if (serial_.identified()) {
      FinishSerialRecovery();
    }
    return;
  }
  if (!serial_.PortFailed() && ack_.ackPending == 0 && serial_.deferredPending())
    serial_.SendDeferredFrame();
  if (serial_.PortFailed()) LoseSerialDisplay(0);
}

void ConnectionManager::PollLink() {
  if (connecting_ != 0) return;
  const int32_t suspended = shared_.suspended.load();
  if (suspended == SharedState::kSuspendedByDriver) {
    if (recovery_.active) AttemptSerialRecovery();
    return;
  }
  if (suspended != 0) return;
  if (flags_.Hid()) {
    PollHid();
  } else {
    PollSerial();
  }
}

void ConnectionManager::PollHid() {
  if (!hid_.DeviceOpen()) {
    SearchForHidDisplay();
    return;
  }
  if (hid_.DeviceLost()) {
    // A failed write may just have held the thread for its limit: the search comes with the
    // next tick, and the commands waiting meanwhile (a Close) go first.
    LoseHidDisplay();
    return;
  }
  if (ack_.ackPending != 0 && clock_.Now() - ack_.lastFrameTick > kHidAckTimeoutMs) {
    LoseHidDisplay();
    SearchForHidDisplay();
    return;
  }
  if (ack_.ackPending == 0) hid_.SendNextQueuedFrame(flags_.hid40Link != 0);
}

void ConnectionManager::LoseHidDisplay() {
  // Closed without the clear that Disconnect queues: it would run after the resend that
  // follows the search and leave the display blank while the host believes its text is shown.
  hid_.CloseDevice();
  ack_.ackPending = 0;
  hid_.DropQueue();
  const uint32_t now = clock_.Now();
  const bool relapse = hidSearch_.foundAt != 0 && now - hidSearch_.foundAt < kRelapseMs;
  hidSearch_ = HidSearch{true, relapse ? hidSearch_.since : now, now, hidSearch_.foundAt, 0};
}

void ConnectionManager::SearchForHidDisplay() {
  const uint32_t now = clock_.Now();
  if (!hidSearch_.active) hidSearch_ = HidSearch{true, now, now, hidSearch_.foundAt, 0};
  if (hidSearch_.seenAt != 0) {
    if (!Reached(now, hidSearch_.seenAt + HidLink::kSettleWaitMs)) return;
    hidSearch_.seenAt = 0;
    // Found again (without a handshake), it comes back blank: it gets the cell buffer at once
    // rather than at the host's next write.
    if (hid_.OpenHidDisplay() == kHidNone) return;
    hidSearch_.active = false;
    hidSearch_.foundAt = now | 1u;  // 0 means never
    cells_.ResendCells();
    return;
  }
  if (!Reached(now, hidSearch_.next)) return;
  const uint32_t absent = now - hidSearch_.since;
  hidSearch_.next = now + (absent < kEveryTickSearchMs    ? 0
                           : absent < kHalfSecondSearchMs ? kHalfSecondMs
                                                          : kOneSecondMs);
  if (hid_.LocateHidDisplay() != kHidNone) hidSearch_.seenAt = now | 1u;
}

void ConnectionManager::PollSerial() {
  if (serial_.serialRetryCount() == kSerialTimeoutsBeforeSuspend && serial_.PortOpen()) {
    serial_.setSerialRetryCount(0);
  }
  if (!serial_.PortOpen()) return;
  if (serial_.PortFailed()) {
    LoseSerialDisplay(0);
    return;
  }
  if (ack_.ackPending != 0 && clock_.Now() - ack_.lastFrameTick > kSerialAckTimeoutMs) {
    const uint8_t timeouts = serial_.serialRetryCount();
    serial_.setSerialRetryCount(static_cast<uint8_t>(timeouts + 1));
    ack_.ackPending = 0;
    if (timeouts + 1 >= kSerialTimeoutsBeforeSuspend) {
      LoseSerialDisplay(0);
      return;
    }
  }
  if (ack_.ackPending == 0 && serial_.deferredPending()) serial_.SendDeferredFrame();
  if (serial_.PortFailed()) LoseSerialDisplay(0);
}

void ConnectionManager::LoseSerialDisplay(uint32_t fastRetryMs) {
  int32_t expected = 0;
  if (!shared_.suspended.compare_exchange_strong(expected, SharedState::kSuspendedByDriver) &&
      expected != SharedState::kSuspendedByDriver) {
    return;  // the host has suspended the driver meanwhile; its suspend closes the link
  }
  // No clear: the display is gone, and the driver is suspended.
  serial_.ClosePort();
  ack_.ackPending = 0;
  serial_.DropDeferredFrame();
  const uint32_t now = clock_.Now();
  recovery_.active = true;
  recovery_.fastUntil = now + fastRetryMs;
  recovery_.nextAttempt =
      now + (fastRetryMs != 0 ? kFastRecoveryIntervalMs : kSerialRecoveryIntervalMs);
}

void ConnectionManager::AttemptSerialRecovery() {
  const uint32_t now = clock_.Now();
  if (!Reached(now, recovery_.nextAttempt)) return;
  const bool fast = !Reached(now, recovery_.fastUntil);
  recovery_.nextAttempt = now + (fast ? kFastRecoveryIntervalMs : kSerialRecoveryIntervalMs);
  if (serial_.PortFailed()) serial_.ClosePort();
  if (!serial_.PortOpen()) {
    if (!serial_.OpenSerialPort(portName_)) return;
    // The port is the driver's again: later attempts come at the ordinary pace.
    recovery_.fastUntil = now;
  }
  serial_.setSerialRetryCount(0);
  serial_.SetRecovering(true);
  serial_.RequestIdentify();
  if (serial_.PortFailed()) serial_.ClosePort();
}

void ConnectionManager::FinishSerialRecovery() {
  serial_.ConfirmIdentify();
  EndRecovery();
  serial_.setSerialRetryCount(0);
  int32_t own = SharedState::kSuspendedByDriver;
  if (!shared_.suspended.compare_exchange_strong(own, 0)) return;  // the host suspended it
  ack_.ackPending = 0;
  serialSession_ = true;
  cells_.ResendCells();
}

void ConnectionManager::EndRecovery() {
  recovery_.active = false;
  serial_.SetRecovering(false);
}

}  // namespace zol
