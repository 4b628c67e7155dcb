// Choosing, opening and closing the display link, and handing its input and its half of the
// poll tick to the watch of the link in use.
#pragma once

#include <cstddef>
#include <cstdint>

#include "connection/cell_output.h"
#include "connection/hid_watch.h"
#include "connection/link_flags.h"
#include "connection/port_sharing.h"
#include "connection/serial_watch.h"

namespace zol {

// A HID display is preferred whatever port name the host gave; the serial port is the
// fallback, and the name serves later reconnects. Worker thread only.
//
// Input, acknowledgements and a lost display are the watch's of the link in use
// (connection/hid_watch.h, connection/serial_watch.h). The serial recovery also follows a reconnect
// of a serial session that failed (the host's resume, or the port's return from the cooperating
// program); when the port was still held by that program, attempts come every tick for the first 5
// s. No recovery runs while the port is lent out.
//
// Letting go. A link the host closes or suspends, or lends to a cooperating program, is left
// blank: the frames that wait are dropped, one all-blank frame (status cells too) goes out
// and its acknowledgement is awaited, at most 500 ms in all, before the device or port closes.
// A display already lost (a failed read or write, an overdue acknowledgement, a serial display
// being recovered) costs no wait. The cell buffer keeps its contents for a resume.
class ConnectionManager : public PortUser {
 public:
  static constexpr uint16_t kSettleMs = 1000;
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
  int Resume() { return Reconnect(false); }
  // Closes the link and ends a recovery, leaving a display that still answers blank (see
  // "Letting go" above). The HID model stays set, so the poll tick can find the same
  // model again.
  void Disconnect();
  // Closes every device handle and the port without queuing anything (worker thread ending).
  void CloseAll() {
    hid_.CloseDevice();
    serial_.ClosePort();
  }
  // Takes what the display has sent; then sends the next waiting frame when nothing awaits
  // an acknowledgement. Nothing while connecting or while the host has suspended the driver.
  void ServiceInput();
  // Events to wait on for input (see DeviceService::InputEvents).
  size_t InputEvents(uintptr_t* events, size_t max);
  // The poll tick after port sharing and input: the link's watch, nothing while connecting.
  void PollLink();

  // PortUser.
  void ReleasePort() override { Disconnect(); }
  void ReclaimPort() override;
  bool HoldsSerialPort() const override { return serialSession_ && !flags_.Hid(); }

  const char* portName() const { return portName_; }
  int32_t connecting() const { return connecting_; }
  bool recovering() const { return serialWatch_.recovering(); }
  const BlankRecord& lastBlank() const { return lastBlank_; }

 private:
  void StorePortName(const char* name);
  int ConnectHid(HidKind kind);
  int ConnectSerial();
  // The watch of the link in use.
  LinkWatch& Watch() { return flags_.Hid() ? static_cast<LinkWatch&>(hidWatch_) : serialWatch_; }
  // Ends a search or recovery and closes everything, dropping what waits to be sent.
  void CloseLink();
  // Connects with the stored port name and shows the cell buffer again; a serial session that
  // fails to reconnect recovers by itself (attempts come every tick for a while when the port
  // returned from the cooperating program is still held by it).
  int Reconnect(bool portReturned);
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
  HidWatch hidWatch_;
  SerialWatch serialWatch_;
  BlankRecord lastBlank_;
};

}  // namespace zol
