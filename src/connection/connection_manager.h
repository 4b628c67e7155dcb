// Choosing, opening and closing the display link; taking its input as it arrives; and the link
// half of the poll tick: acknowledgement time-outs, and finding a lost display again.
#pragma once

#include <cstddef>
#include <cstdint>

#include "connection/cell_output.h"
#include "connection/link_flags.h"
#include "connection/port_sharing.h"
#include "core/clock.h"
#include "core/shared_state.h"
#include "hid/hid_link.h"
#include "serial/serial_link.h"

namespace zol {

// A HID display is preferred whatever port name the host gave; the serial port is the
// fallback, and the name serves later reconnects. Worker thread only.
//
// Input. Every wake of the worker thread takes what the display sent (ServiceInput): every HID
// report or serial byte that has arrived, up to a bound per wake, in order. An acknowledgement
// lets the next waiting frame go out at once.
//
// A lost HID display (its acknowledgement more than 1000 ms late, or a read or write failing
// as a removed device does) is closed, its waiting frames dropped, and searched for: at once
// after a time-out, from the next tick after a failure, then every tick for a second, every
// 500 ms until ten seconds have passed and every second after that, so that a long absence
// costs little. A display found is opened on the first tick 300 ms later (it settles meanwhile,
// without holding the thread) and gets the cell buffer. A display lost again within 5 s of
// being found (present but failing, say one that takes no output) keeps the pace its first
// loss had reached. So no tick holds the thread longer than one write's limit, and a Close
// waits for at most that.
//
// A lost serial display (the fourth acknowledgement time-out in a row, or a port failure)
// suspends the driver (SharedState::kSuspendedByDriver: the host's writes are refused), closes
// the port, and comes back by itself: about every 2 s the port is opened again if need be and
// an identify request sent; the reply, taken by the ordinary input path, ends the suspension
// and the cell buffer is sent again. No attempt waits for the reply, and none runs while the
// host has suspended the driver or the port is lent out. The same recovery follows a reconnect
// of a serial session that failed (the host's resume, or the port's return from the
// cooperating program); when the port was still held by that program, attempts come every
// tick for the first 5 s.
//
// Letting go. A link the host closes or suspends, or lends to a cooperating program, is left
// blank: the frames that wait are dropped, one all-blank frame (status cells too) goes out
// and its acknowledgement is awaited, at most 500 ms in all, before the device or port closes.
// A display already lost (a failed read or write, an overdue acknowledgement, a serial display
// being recovered) costs no wait. The cell buffer keeps its contents for a resume.
class ConnectionManager : public PortUser {
 public:
  static constexpr uint16_t kSettleMs = 1000;
  static constexpr uint32_t kHidAckTimeoutMs = 1000;
  static constexpr uint32_t kSerialAckTimeoutMs = 400;
  // Consecutive serial time-outs after which the display counts as lost.
  static constexpr uint8_t kSerialTimeoutsBeforeSuspend = 4;
  static constexpr uint32_t kSerialRecoveryIntervalMs = 2000;
  static constexpr uint32_t kReclaimRetryMs = 5000;
  static constexpr size_t kPortNameSize = 128;
  // Letting go: the whole wait for the blank frame, and the part of it that a frame still in
  // flight may take before the blank goes out regardless.
  static constexpr uint32_t kBlankLimitMs = 500;
  static constexpr uint32_t kBlankInFlightMs = 250;

  // What the last Disconnect did to the display before the link closed.
  enum class BlankOutcome {
    kNoLink,          // nothing was open
    kLinkLost,        // the display was already gone: closed without a wait
    kAcknowledged,    // the blank frame was acknowledged
    kUnacknowledged,  // sent, but no acknowledgement within the limit (or the link failed)
  };
  struct BlankRecord {
    uint32_t count = 0;  // Disconnects so far
    BlankOutcome outcome = BlankOutcome::kNoLink;
    uint32_t elapsedMs = 0;
  };

  ConnectionManager(Clock& clock, SharedState& shared, FrameAck& ack, LinkFlags& flags,
                    HidLink& hid, SerialLink& serial, CellOutput& cells);

  // Stores name (cut to 127 characters; null counts as empty) upper-cased (a-z only, whatever
  // the locale) as the port name, waits 1000 ms, then connects: HID when a display is present
  // (a failed HID handshake does not fall back to serial), otherwise the serial port. A link
  // still open from before is closed first, without a clear, so that a connect on top of an
  // open link neither leaks the device nor loses the port. A newly opened serial port starts
  // with no time-outs counted, and nothing of the link before awaits an acknowledgement or waits
  // to be sent. Ends a recovery. Returns 1 when a display answered.
  int Connect(const char* name);
  // Connect with the stored port name after the host's resume; a serial session that fails
  // to reconnect recovers by itself.
  int Resume();
  // Closes the link and ends a recovery, leaving a display that still answers blank (see
  // "Letting go" above). The HID model flags stay set, so the poll tick can find the same
  // model again.
  void Disconnect();
  // Closes every device handle and the port without queuing anything (worker thread ending).
  void CloseAll();
  // Takes what the display has sent; then sends the next waiting frame when nothing awaits
  // an acknowledgement. Nothing while connecting or while the host has suspended the driver.
  void ServiceInput();
  // Events to wait on for input (see DeviceService::InputEvents).
  size_t InputEvents(uintptr_t* events, size_t max);
  // The poll tick after port sharing and input: nothing while connecting or suspended by the
  // host. HID: searches for a lost display, or after more than 1000 ms without acknowledgement
  // drops the device and its waiting frames and searches. Serial: counts an acknowledgement
  // missing for more than 400 ms (the fourth in a row loses the display), sends the kept-back
  // frame, and makes the recovery attempts of a lost display.
  void PollLink();

  // PortUser.
  void ReleasePort() override { Disconnect(); }
  void ReclaimPort() override;
  bool HoldsSerialPort() const override { return serialSession_ && !flags_.Hid(); }

  const char* portName() const { return portName_; }
  int32_t connecting() const { return connecting_; }
  bool recovering() const { return recovery_.active; }
  // The last successful connect chose the serial port (and no HID display since).
  bool serialSession() const { return serialSession_; }
  const BlankRecord& lastBlank() const { return lastBlank_; }

 private:
  struct HidSearch {
    bool active = false;
    uint32_t since = 0;    // when the display was lost
    uint32_t next = 0;     // when the next search is due
    uint32_t foundAt = 0;  // when a search last found it
    uint32_t seenAt = 0;   // when a search saw it, to be opened once settled; 0: not seen
  };
  struct SerialRecovery {
    bool active = false;
    uint32_t nextAttempt = 0;
    uint32_t fastUntil = 0;  // attempts every tick until then
  };

  void StorePortName(const char* name);
  int ConnectHid(int kind);
  int ConnectSerial();
  void ServiceHidInput();
  void ServiceSerialInput();
  void PollHid();
  void PollSerial();
  // Closes a HID display that is gone and drops its waiting frames; the searches begin.
  void LoseHidDisplay();
  void SearchForHidDisplay();
  // Suspends the driver for a lost serial display and starts its recovery.
  void LoseSerialDisplay(uint32_t fastRetryMs);
  void AttemptSerialRecovery();
  void FinishSerialRecovery();
  void EndRecovery();
  // After a reconnect that failed: a serial session recovers by itself.
  void RecoverIfSerialSession(int connected);
  // Whether the display of the open link still answers: letting go of it is worth a wait.
  bool DisplayAnswering();
  // Sends the blank frame and waits for its acknowledgement; the link stays open.
  BlankOutcome BlankDisplay();
  // Takes the display's input until nothing awaits an acknowledgement (true), or the link
  // fails or deadline passes (false).
  bool AwaitAcknowledgement(uint32_t deadline);

  Clock& clock_;
  SharedState& shared_;
  FrameAck& ack_;
  LinkFlags& flags_;
  HidLink& hid_;
  SerialLink& serial_;
  CellOutput& cells_;
  char portName_[kPortNameSize] = {};
  int32_t connecting_ = 0;
  bool serialSession_ = false;  // the last successful connect chose the serial port
  HidSearch hidSearch_;
  SerialRecovery recovery_;
  BlankRecord lastBlank_;
};

}  // namespace zol
