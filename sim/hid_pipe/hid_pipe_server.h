// Serves a simulated HID device (any HidEndpoint) as a device file: a message-mode named pipe
// that the driver opens like a HID interface path, on a thread of its own, with what Windows'
// HID class driver does per handle:
//
// - Every open of the path is one connection, standing for one handle. Output reports arrive
//   as messages on any of them. The pipe buffers no output (in-buffer 0): a write completes
//   only when this thread takes the report, as a HID write completes when the device does.
// - Every input report the device produces is copied into the ring of input buffers of every
//   open connection: 32 reports unless HidD_SetNumInputBuffers set another number (2 to 512)
//   on that handle; a full ring drops its oldest report. Each ring's oldest report is offered
//   to its handle as a pending write with out-buffer 0, which completes only when the handle
//   reads it. Reports produced while no handle is open are lost. A handle whose ring overflowed
//   while it did not read is offered its oldest report again only after a poll period (10 ms),
//   so that a handle that never reads (the driver's write handle) costs the server little.
// - An interface path (\\?\hid#...#{guid}, see InterfacePath) gets a DOS device name that
//   leads to the pipe \\.\pipe\hid#...: the driver opens a path of the form Windows lists.
//   Any other path (\\.\pipe\NAME) is the pipe itself.
// - Stop is a surprise removal: reads and writes on open handles fail at once (with the pipe's
//   errors, ERROR_BROKEN_PIPE, ERROR_NO_DATA or ERROR_PIPE_NOT_CONNECTED, where Windows reports
//   ERROR_DEVICE_NOT_CONNECTED and the like), the path disappears and with it the interface
//   from the test-only setupapi.dll's enumeration. Start plugs the device in again under the
//   same path; Replug under a new one, as a new device instance (handles of the old one stay
//   dead).
// - StallOutput makes the device stop taking output reports: writes stay pending until their
//   handle cancels them or the device is removed. Requests of the test-only hid.dll (see
//   hidsim_control.h) are still answered.
// - A server with AttributesOnly access refuses opens for reading or writing (ERROR_ACCESS_DENIED)
//   as Windows refuses them for keyboards and mice; an open with no access rights succeeds.
//
// A pipe does not tell its server the access a client asked for, so a handle opened with no
// access rights gets a ring too. Such a handle can never read it, and the ring goes with the
// handle, so nothing the driver sees differs.
//
// Any HidEndpoint can be served this way: the simulated display of sim/, or a relay that
// forwards reports to a display program running elsewhere. Start, Stop, Replug and path()
// belong to one thread (the test's); the other calls may come from any thread.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/hid_endpoint.h"

namespace zol::sim {

class HidPipeServer {
 public:
  enum class Access {
    ReadWrite,       // any open succeeds
    AttributesOnly,  // only opens without read or write access succeed
  };

  // A path of a new device instance of a HID collection as Windows names it, from its hardware
  // ids: "vid_04d8&pid_abd7" gives \\?\hid#vid_04d8&pid_abd7#7&<unique>&0&<n>#{4d1e55b2-...};
  // Bluetooth ids ("{00001124-...}_vid&000204d8_pid&abd7") go in as they are.
  static std::string InterfacePath(const std::string& hardwareIds);
  // A pipe path of this process's own, \\.\pipe\zol-<name>-<process id>: programs running
  // side by side do not meet.
  static std::string PipePath(const std::string& name);

  HidPipeServer(std::string path, HidEndpoint& endpoint);
  // A HID interface of some other device: it produces no input and ignores output.
  HidPipeServer(std::string path, Access access);
  ~HidPipeServer();
  HidPipeServer(const HidPipeServer&) = delete;
  HidPipeServer& operator=(const HidPipeServer&) = delete;

  // Creates the pipe (and the interface path) and starts serving; false when it cannot.
  bool Start();
  void Stop();
  // Stop, then Start as a new device instance: an interface path gets a new instance part.
  bool Replug();
  // Returns once the device has stopped (or resumed) taking output reports. A plugged-in
  // device (Start, Replug) takes them.
  void StallOutput(bool stalled);
  // The device has input waiting: it is looked for at once instead of at the next poll. Only
  // while the server runs (between Start and Stop).
  void InputWaiting() {
    if (wake_ != nullptr) SetEvent(wake_);
  }
  // Input buffers of a handle until HidD_SetNumInputBuffers sets another number; before Start.
  // Behind Wine's own HID class stack the one handle is the test minidriver's, which passes
  // every report on to the class driver: that handle must keep them all (kCarrierBuffers).
  void SetInputBuffers(size_t count) { ringLimit_ = count; }
  static constexpr size_t kCarrierBuffers = 65536;

  const std::string& path() const { return path_; }
  int connectionsAccepted() const { return accepted_; }
  int connectionsOpen() const { return open_; }
  int reportsDelivered() const { return delivered_; }  // read by a handle
  int reportsDropped() const { return dropped_; }      // by a full ring, or with no handle open

 private:
  struct Connection;
  void Run();
  bool Listen();
  bool Link();
  void Unlink();
  void Accept(size_t listener);
  void StartRead(Connection& connection);
  void FinishRead(Connection& connection);
  void TakeMessage(Connection& connection);
  void ApplyStall();
  void PollStalled(Connection& connection);
  void Control(Connection& connection, const uint8_t* message, size_t length);
  void TakeInput();
  void Push(Connection& connection, const std::vector<uint8_t>& report);
  void DropOldest(Connection& connection);
  void Offer(Connection& connection);
  void FinishOffer(Connection& connection);
  bool WithdrawOffer(Connection& connection);

  std::string path_;
  std::string pipeName_;
  HidEndpoint* endpoint_;
  Access access_;
  HANDLE link_ = nullptr;
  HANDLE stop_ = nullptr;
  HANDLE wake_ = nullptr;
  std::thread thread_;
  std::vector<std::unique_ptr<Connection>> listeners_;
  std::vector<std::unique_ptr<Connection>> connections_;
  std::atomic<bool> stallWanted_{false};
  std::atomic<bool> stallApplied_{false};
  bool stalled_ = false;  // the server thread's view
  size_t ringLimit_ = 32;
  std::atomic<int> accepted_{0};
  std::atomic<int> open_{0};
  std::atomic<int> delivered_{0};
  std::atomic<int> dropped_{0};
};

}  // namespace zol::sim
