// Everything of the driver that runs on the worker thread and talks to the display, composed
// from one piece per subsystem over the platform's interfaces.
#pragma once

#include "connection/cell_output.h"
#include "connection/connection_manager.h"
#include "connection/device_service.h"
#include "connection/link_flags.h"
#include "connection/port_sharing.h"
#include "connection/share_section.h"
#include "core/clock.h"
#include "core/shared_state.h"
#include "hid/hid_bus.h"
#include "hid/hid_link.h"
#include "input/host_link.h"
#include "input/input_translator.h"
#include "input/key_injector.h"
#include "serial/serial_link.h"
#include "serial/serial_port.h"

namespace zol {

// The platform services the device side runs on.
struct Platform {
  Clock& clock;
  HidBus& hidBus;
  SerialPortFactory& serialPorts;
  ShareSection& shareSection;
  KeyInjector& keyInjector;
};

// The device side of the driver: input translation, both links, the cell buffer, port
// sharing and the connection manager over one platform. Every method runs on the worker
// thread.
//
// Close sends CMD_DISCONNECT and then stops the worker thread, and poll ticks may still run
// between the two. Disconnect() therefore parks the device side: until the next Connect() or
// Suspend(0), poll ticks neither search for the display, nor reconnect, nor touch the
// port-sharing block, so nothing reopens the device behind a closed driver. Suspend(non-zero)
// disconnects without parking (port sharing goes on, and may take the port back). A session
// runs from Connect() to Disconnect(): a loan of the port to the cooperating program does not
// outlive it.
class DeviceCore final : public DeviceService {
 public:
  DeviceCore(const Platform& platform, SharedState& shared, HostLink& host);
  DeviceCore(const DeviceCore&) = delete;
  DeviceCore& operator=(const DeviceCore&) = delete;

  // CMD_CONNECT, sent only by the host's Open: starts a new session, so a suspension left
  // from the one before (the host's, or the driver's own after repeated time-outs) ends here.
  int Connect(const char* portName) override;
  void Disconnect() override;
  void Suspend(int32_t flag) override;
  void WriteText(const uint8_t* dots, int32_t count) override;
  void WriteAll(const uint8_t* dots, int32_t count) override;
  void Clear() override;
  // Port sharing, then the display's input, then the link's periodic work.
  void PollTick() override;
  void ServiceInput() override;
  size_t InputEvents(uintptr_t* events, size_t max) override;
  // Parks, and closes the HID device, the serial port and the port-sharing block.
  void Shutdown() override;

  bool parked() const { return parked_; }
  const LinkFlags& linkFlags() const { return flags_; }
  LinkKind linkKind() const { return ActiveLinkKind(flags_, serial_.PortOpen()); }
  const FrameAck& frameAck() const { return ack_; }
  FrameAck& frameAck() { return ack_; }
  InputTranslator& input() { return input_; }
  HidLink& hid() { return hid_; }
  SerialLink& serial() { return serial_; }
  CellOutput& cellOutput() { return cells_; }
  const CellOutput& cellOutput() const { return cells_; }
  PortSharing& portSharing() { return sharing_; }
  ConnectionManager& connection() { return connection_; }

 private:
  SharedState& shared_;
  FrameAck ack_;
  LinkFlags flags_;
  InputTranslator input_;
  HidLink hid_;
  SerialLink serial_;
  CellOutput cells_;
  ConnectionManager connection_;
  PortSharing sharing_;
  bool parked_ = false;
};

}  // namespace zol
