#include "connection/serial_watch.h"

namespace zol {

namespace {

// Recovery attempts while the port was still held by the cooperating program.
constexpr uint32_t kFastRecoveryIntervalMs = 100;

}  // namespace

SerialWatch::SerialWatch(Clock& clock, SharedState& shared, FrameAck& ack, SerialLink& serial,
                         const char* portName)
    : clock_(clock), shared_(shared), ack_(ack), serial_(serial), portName_(portName) {}

bool SerialWatch::Listening() const {
  const int32_t suspended = shared_.suspended.load();
  return suspended == 0 || (suspended == SharedState::kSuspendedByDriver && recovery_.active);
}

bool SerialWatch::ServiceInput() {
  if (!Listening() || !serial_.PortOpen()) return false;
  serial_.ReadAndDispatch(SerialLink::kBytesPerWake);
  if (recovery_.active) {
    if (serial_.PortFailed()) {
      serial_.ClosePort();  // the next attempt opens it again
    } else if (serial_.identified()) {
      return Finish();
    }
    return false;
  }
  if (!serial_.PortFailed() && ack_.ackPending == 0 && serial_.deferredPending())
    serial_.SendDeferredFrame();
  if (serial_.PortFailed()) Lose(0);
  return false;
}

uintptr_t SerialWatch::InputEvent() {
  return Listening() ? serial_.InputEvent() : 0;
}

bool SerialWatch::Poll() {
  const int32_t suspended = shared_.suspended.load();
  if (suspended == SharedState::kSuspendedByDriver && recovery_.active) Attempt();
  if (suspended != 0) return false;
  if (serial_.serialRetryCount() == kTimeoutsBeforeLoss && serial_.PortOpen())
    serial_.setSerialRetryCount(0);
  if (!serial_.PortOpen()) return false;
  if (serial_.PortFailed()) {
    Lose(0);
    return false;
  }
  if (ack_.ackPending != 0 && clock_.Now() - ack_.lastFrameTick > kAckTimeoutMs) {
    const uint8_t timeouts = serial_.serialRetryCount();
    serial_.setSerialRetryCount(static_cast<uint8_t>(timeouts + 1));
    ack_.ackPending = 0;
    if (timeouts + 1 >= kTimeoutsBeforeLoss) {
      Lose(0);
      return false;
    }
  }
  if (ack_.ackPending == 0 && serial_.deferredPending()) serial_.SendDeferredFrame();
  if (serial_.PortFailed()) Lose(0);
  return false;
}

void SerialWatch::Stop() {
  recovery_.active = false;
  serial_.SetRecovering(false);
}

bool SerialWatch::Answering() const {
  return serial_.PortOpen() && !serial_.PortFailed() && !recovery_.active &&
         serial_.serialRetryCount() < kTimeoutsBeforeLoss;
}

void SerialWatch::Lose(uint32_t fastRetryMs) {
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
  recovery_.nextAttempt = now + (fastRetryMs != 0 ? kFastRecoveryIntervalMs : kRecoveryIntervalMs);
}

void SerialWatch::Attempt() {
  const uint32_t now = clock_.Now();
  if (!Reached(now, recovery_.nextAttempt)) return;
  const bool fast = !Reached(now, recovery_.fastUntil);
  recovery_.nextAttempt = now + (fast ? kFastRecoveryIntervalMs : kRecoveryIntervalMs);
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

bool SerialWatch::Finish() {
  serial_.ConfirmIdentify();
  Stop();
  serial_.setSerialRetryCount(0);
  int32_t own = SharedState::kSuspendedByDriver;
  if (!shared_.suspended.compare_exchange_strong(own, 0)) return false;  // the host suspended it
  ack_.ackPending = 0;
  return true;
}

}  // namespace zol
