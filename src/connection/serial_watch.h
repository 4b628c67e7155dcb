// The serial link between connect and disconnect: its input, its acknowledgement time-outs,
// and the recovery of a lost display.
#pragma once

#include <cstdint>

#include "connection/link_watch.h"
#include "core/clock.h"
#include "core/shared_state.h"
#include "serial/serial_link.h"

namespace zol {

// An acknowledgement missing for more than 400 ms is counted, and the frame kept back then
// goes out. A lost serial display (the fourth time-out in a row, or a port failure) suspends
// the driver (SharedState::kSuspendedByDriver: the host's writes are refused), closes the
// port, and comes back by itself: about every 2 s the port is opened again if need be and an
// identify request sent; the reply, taken by the ordinary input path, ends the suspension and
// the display wants the cell buffer again. No attempt waits for the reply, and none runs while
// the host has suspended the driver. When the port was still held by the cooperating program,
// attempts come every tick until the given time has passed or the port opens.
class SerialWatch final : public LinkWatch {
 public:
  static constexpr uint32_t kAckTimeoutMs = 400;
  // Consecutive time-outs after which the display counts as lost.
  static constexpr uint8_t kTimeoutsBeforeLoss = 4;
  static constexpr uint32_t kRecoveryIntervalMs = 2000;

  // portName is the connection's stored name, read at every attempt.
  SerialWatch(Clock& clock, SharedState& shared, FrameAck& ack, SerialLink& serial,
              const char* portName);

  // Suspends the driver for a lost display, unless the host has suspended it meanwhile, and
  // starts the recovery: attempts every tick for fastRetryMs, then every 2 s.
  void Lose(uint32_t fastRetryMs);
  bool recovering() const { return recovery_.active; }

  bool ServiceInput() override;
  uintptr_t InputEvent() override;
  bool Poll() override;
  void Stop() override;
  bool Answering() const override;
  bool Failed() const override { return serial_.PortFailed(); }
  void TakeInput() override { serial_.ReadAndDispatch(SerialLink::kBytesPerWake); }

 private:
  struct Recovery {
    bool active = false;
    uint32_t nextAttempt = 0;
    uint32_t fastUntil = 0;  // attempts every tick until then
  };

  // Input is taken while the driver runs, and during a recovery for the identify reply.
  bool Listening() const;
  void Attempt();
  // The identify reply came: ends the suspension; true unless the host suspended meanwhile.
  bool Finish();

  Clock& clock_;
  SharedState& shared_;
  FrameAck& ack_;
  SerialLink& serial_;
  const char* portName_;
  Recovery recovery_;
};

}  // namespace zol
