// Lending the display's port to a cooperating program through a named shared block.
#pragma once

#include <cstdint>

#include "connection/share_section.h"
#include "serial/serial_link.h"

namespace zol {

// What the port-sharing step asks of the connection manager.
class PortUser {
 public:
  virtual ~PortUser() = default;
  // Lets go of the link (a plain disconnect).
  virtual void ReleasePort() = 0;
  // Connects again with the stored port name.
  virtual void ReclaimPort() = 0;
  // True while the session's display is on a serial port (also while it is being recovered):
  // only then is there a port to lend.
  virtual bool HoldsSerialPort() const = 0;
};

// The cooperating program creates the section; the driver only opens it, tries again every
// tick while it is missing, and examines it from the tick after it was opened. While the
// driver holds the port it publishes its COM number in the word at offset 0. The word is
// shared with another process without a lock, so it is read and written as 4 separate bytes
// and never through a pointer to an int. Worker thread only.
//
// Only a serial session lends its port. Without one (a USB display, or none) the driver holds
// no COM port: it publishes 0, answers a request to release with that 0 and a return with the
// number it asks for, and leaves its link alone. A loan belongs to the session that granted
// it: a new session starts with none, and a session that ends ends its loan.
class PortSharing {
 public:
  PortSharing(ShareSection& section, const SerialLink& serial, PortUser& user);

  // First step of every poll tick. 1 when the tick may go on, 0 when it must end here
  // (while the port is lent out).
  int ServicePortSharing();
  // Non-zero: marks the port as lent out and disconnects. 0: marks it as held and connects.
  void SetPortReleased(int32_t release);
  // Forgets a loan without touching the link or the block (a session begins or ends).
  void EndLoan() { portReleased_ = 0; }
  // Unmaps the view and closes the section, if open (worker thread ending).
  void Release();

  bool portReleased() const { return portReleased_ != 0; }
  bool mappingOpen() const { return mappingOpen_; }
  // Requests to release that were answered without a port to lend, so far.
  uint32_t refusedRequests() const { return refusedRequests_; }

 private:
  int32_t ReadWord(size_t offset) const;
  void WriteWord(size_t offset, int32_t value);

  ShareSection& section_;
  const SerialLink& serial_;
  PortUser& user_;
  bool mappingOpen_ = false;
  uint8_t* view_ = nullptr;
  int32_t portReleased_ = 0;
  uint32_t refusedRequests_ = 0;
};

}  // namespace zol
