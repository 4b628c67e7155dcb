// Serves a simulated HID device (any HidEndpoint) as a device file: a message-mode named pipe
// that the driver opens like a HID interface path, on a thread of its own.
//
// Every open of the path is one connection. Output reports arrive as messages on any of them.
// Each input report is offered on every open connection at once and taken by the first that
// reads it (the driver reads only on its overlapped read channel); the other offers are then
// withdrawn. The pipe's outbound buffer is 0 bytes, so an offer completes only when the driver
// has actually read it: no report is lost or delivered twice, whichever handle is which.
//
// Any HidEndpoint can be served this way: the simulated display of sim/, or a relay that
// forwards reports to a display program running elsewhere.
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
  HidPipeServer(std::string path, HidEndpoint& endpoint);
  ~HidPipeServer();
  HidPipeServer(const HidPipeServer&) = delete;
  HidPipeServer& operator=(const HidPipeServer&) = delete;

  // Creates the pipe and starts serving; false when the pipe cannot be created.
  bool Start();
  void Stop();

  const std::string& path() const { return path_; }
  int connectionsAccepted() const { return accepted_; }
  int connectionsOpen() const { return open_; }
  int reportsDelivered() const { return delivered_; }
  int reportsDeliveredTwice() const { return duplicates_; }

 private:
  struct Connection;
  void Run();
  bool Listen();
  void Accept(size_t listener);
  void StartRead(Connection& connection);
  void FinishRead(Connection& connection);
  void Offer(Connection& connection);
  void FinishOffer(Connection& connection);
  void WithdrawOffers();
  void Drop(size_t index);
  void OfferNextReport();

  std::string path_;
  HidEndpoint& endpoint_;
  HANDLE stop_ = nullptr;
  std::thread thread_;
  std::vector<std::unique_ptr<Connection>> listeners_;
  std::vector<std::unique_ptr<Connection>> connections_;
  std::vector<uint8_t> offer_;  // the report on offer, empty when none
  std::atomic<int> accepted_{0};
  std::atomic<int> open_{0};
  std::atomic<int> delivered_{0};
  std::atomic<int> duplicates_{0};
};

}  // namespace zol::sim
