#include "connection/connection_manager.h"

#include <algorithm>

#include "core/io_failure.h"

namespace zol {

namespace {

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
      cells_(cells),
      hidWatch_(clock, shared, ack, hid, flags),
      serialWatch_(clock, shared, ack, serial, portName_) {}

int ConnectionManager::Connect(const char* name) {
  flags_ = LinkFlags{};
  StorePortName(name);
  // A frame of the link before (the clear that a disconnect queues goes out on a closed link)
  // would otherwise count as unacknowledged on the new one and reconnect it for nothing.
  CloseLink();
  WaitTicks(clock_, kSettleMs);
  const int kind = hid_.FindHidDisplay();
  if (kind != kHidNone) return ConnectHid(static_cast<HidKind>(kind));
  return ConnectSerial();
}

void ConnectionManager::ReclaimPort() {
  // A suspension of the driver's own belonged to the link it has just lent out; one the host
  // asked for stays (and keeps the serial link from sending).
  int32_t own = SharedState::kSuspendedByDriver;
  shared_.suspended.compare_exchange_strong(own, 0);
  Reconnect(true);
}

int ConnectionManager::Reconnect(bool portReturned) {
  const int connected = Connect(portName_);
  // The display was left blank when it was let go of; it shows the contents again.
  if (connected) cells_.ResendCells();
  if (!connected && serialSession_ && shared_.suspended.load() == 0) {
    const bool stillHeld = portReturned && serial_.lastOpenError() == error_code::kAccessDenied;
    serialWatch_.Lose(stillHeld ? kReclaimRetryMs : 0);
  }
  return connected;
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

int ConnectionManager::ConnectHid(HidKind kind) {
  connecting_ = 1;
  const int answered = hid_.HidHandshake();
  connecting_ = 0;
  if (!answered) {
    // The model is still clear, so Disconnect would not close the device.
    hid_.CloseDevice();
    return 0;
  }
  flags_.hidModel = kind;
  if (shared_.textCellCount.load() == 0) shared_.textCellCount = hid::ModelOf(kind)->textCells;
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
  if (Watch().Answering()) {
    outcome = BlankDisplay();
  } else if (hid_.DeviceOpen() || serial_.PortOpen()) {
    outcome = BlankOutcome::kLinkLost;
  }
  CloseLink();
  lastBlank_ = BlankRecord{lastBlank_.count + 1, outcome, clock_.Now() - start};
}

void ConnectionManager::CloseLink() {
  serialWatch_.Stop();
  hidWatch_.Stop();
  CloseAll();
  // Nothing of the closed link awaits an acknowledgement or waits to be sent.
  ack_.ackPending = 0;
  hid_.DropQueue();
  serial_.DropDeferredFrame();
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
  LinkWatch& watch = Watch();
  for (;;) {
    if (ack_.ackPending == 0) return true;
    if (watch.Failed()) return false;
    if (Reached(clock_.Now(), deadline)) return false;
    // Keys pressed meanwhile are taken as always.
    watch.TakeInput();
    if (ack_.ackPending == 0) return true;
    const uint32_t left = MsUntil(clock_.Now(), deadline);
    if (left != 0) clock_.Sleep(std::min(kBlankPollMs, left));
  }
}

void ConnectionManager::ServiceInput() {
  if (connecting_ != 0) return;
  if (Watch().ServiceInput()) cells_.ResendCells();
}

size_t ConnectionManager::InputEvents(uintptr_t* events, size_t max) {
  if (max == 0 || connecting_ != 0) return 0;
  events[0] = Watch().InputEvent();
  return events[0] != 0 ? 1 : 0;
}

void ConnectionManager::PollLink() {
  if (connecting_ != 0) return;
  // A display found again comes back blank: it gets the cell buffer at once rather than at
  // the host's next write.
  if (Watch().Poll()) cells_.ResendCells();
}

}  // namespace zol
