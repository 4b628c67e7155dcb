// Choosing, opening and closing the display link, and the link half of the poll tick.
#pragma once

#include <cstddef>
#include <cstdint>

#include "connection/cell_output.h"
#include "connection/driver_control.h"
#include "connection/link_flags.h"
#include "connection/port_sharing.h"
#include "core/clock.h"
#include "core/shared_state.h"
#include "hid/hid_link.h"
#include "serial/serial_link.h"

namespace zol {

// A HID display is preferred whatever port name the host gave; the serial port is the
// fallback, and the name serves later reconnects. Worker thread only.
class ConnectionManager : public PortUser {
 public:
  static constexpr uint16_t kSettleMs = 1000;
  static constexpr uint32_t kHidAckTimeoutMs = 1000;
  static constexpr uint32_t kSerialAckTimeoutMs = 400;
  static constexpr uint32_t kSerialReadBytes = 80;
  // Consecutive serial time-outs after which the driver suspends itself.
  static constexpr uint8_t kSerialTimeoutsBeforeSuspend = 4;
  static constexpr size_t kPortNameSize = 128;

  ConnectionManager(Clock& clock, SharedState& shared, FrameAck& ack, LinkFlags& flags,
                    HidLink& hid, SerialLink& serial, CellOutput& cells, DriverControl& control);

  // Stores name (cut to 127 characters; null counts as empty) upper-cased (a-z only, whatever
  // the locale) as the port name, waits 1000 ms, then connects: HID when a display is present
  // (a failed HID handshake does not fall back to serial), otherwise the serial port. A link
  // still open from before is closed first, without a clear, so that a connect on top of an
  // open link neither leaks the device nor loses the port. A newly opened serial port starts
  // with no time-outs counted, so that a resume after the driver suspended itself on repeated
  // time-outs can identify the display again. Returns 1 when a display answered.
  int Connect(const char* name);
  // Closes the link. A HID device that was open, or a serial port, first gets a clear queued
  // behind the running command. The HID model flags stay set, so the poll tick can find the
  // same model again.
  void Disconnect();
  // Closes every device handle and the port without queuing anything (worker thread ending).
  void CloseAll();
  // The poll tick after port sharing: nothing while connecting or suspended. HID: searches
  // every tick while the device is lost (no handshake; found again, it gets the cells resent),
  // then handles one input report, or
  // after more than 1000 ms without acknowledgement closes the device, drops the waiting
  // frames, searches and resends the cells, or sends the next waiting frame. Serial: reads up
  // to 80 bytes, counts an acknowledgement missing for more than 400 ms (the fourth in a row
  // suspends the driver), then sends the kept-back frame.
  void PollLink();

  // PortUser.
  void ReleasePort() override { Disconnect(); }
  void ReclaimPort() override { Connect(portName_); }

  const char* portName() const { return portName_; }
  int32_t connecting() const { return connecting_; }

 private:
  void StorePortName(const char* name);
  int ConnectHid(int kind);
  int ConnectSerial();
  void PollHid();
  void PollSerial();

  Clock& clock_;
  SharedState& shared_;
  FrameAck& ack_;
  LinkFlags& flags_;
  HidLink& hid_;
  SerialLink& serial_;
  CellOutput& cells_;
  DriverControl& control_;
  char portName_[kPortNameSize] = {};
  int32_t connecting_ = 0;
};

}  // namespace zol
