// The HID interfaces of an ordinary PC around a simulated display, for the test-only hid.dll
// and setupapi.dll: keyboards, mice, touchpads, consumer and system controls and vendor
// collections, over USB and Bluetooth, with paths of the form Windows lists. Keyboards, mice
// and touchpads refuse opens for reading or writing, as Windows keeps them for itself; every
// interface opens without access rights and has attributes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "hid_pipe_server.h"

namespace zol::sim {

// One entry of ZOL_HIDSIM_DEVICES (see fake/hidsim_config.h).
std::string HidSimEntry(const std::string& path, uint16_t vendor, uint16_t product,
                        uint16_t version, uint16_t inputLength = 9, uint16_t outputLength = 9);
// Sets ZOL_HIDSIM_DEVICES to these entries, in enumeration order.
void SetHidSimDevices(const std::vector<std::string>& entries);

class ForeignHidInterfaces {
 public:
  explicit ForeignHidInterfaces(int count);
  bool Start();
  void Stop();
  // Their ZOL_HIDSIM_DEVICES entries, in enumeration order.
  const std::vector<std::string>& entries() const { return entries_; }
  int refusing() const { return refusing_; }  // how many refuse reading and writing
  int opens() const;                          // opens that succeeded, all interfaces together

 private:
  std::vector<std::unique_ptr<HidPipeServer>> servers_;
  std::vector<std::string> entries_;
  int refusing_ = 0;
};

}  // namespace zol::sim
