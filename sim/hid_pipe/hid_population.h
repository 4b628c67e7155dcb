// The HID interfaces of an ordinary PC around a simulated display, for the test-only hid.dll
// and setupapi.dll: keyboards, mice, touchpads, consumer and system controls and vendor
// collections, over USB and Bluetooth, with paths of the form Windows lists. Keyboards, mice
// and touchpads refuse opens for reading or writing, as Windows keeps them for itself; every
// interface opens without access rights and has attributes. HidPc puts a display among them.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "hid_pipe_server.h"

namespace zol::sim {

// One entry of ZOL_HIDSIM_DEVICES (see tests/wine/hid/fake/hidsim_config.h).
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

// A display among the HID interfaces of an ordinary PC, listed after Wine's own and count
// foreign ones, so that a search examines every other interface first. The display is served
// under an interface path made from its hardware ids (see HidPipeServer::InterfacePath).
class HidPc {
 public:
  struct Ids {
    uint16_t vendor, product, version;
  };
  HidPc(int foreign, const std::string& hardwareIds, HidEndpoint& display, Ids ids);
  // Unplugs everything and clears ZOL_HIDSIM_DEVICES.
  ~HidPc();
  HidPc(const HidPc&) = delete;
  HidPc& operator=(const HidPc&) = delete;

  // Plugs in the foreign interfaces and the display and lists them; false when one cannot be
  // served.
  bool Start();
  // The display unplugged and plugged in again as a new device instance, listed under its new
  // path.
  bool Replug();
  // Runs call; when it has not returned within limitMs, unplugs the display, which lets go of
  // a driver whose write never returns. True when the display had to be unplugged.
  bool RunOrUnplug(const std::function<void()>& call, DWORD limitMs);

  HidPipeServer& display() { return display_; }
  const ForeignHidInterfaces& foreign() const { return foreign_; }

 private:
  void List();

  ForeignHidInterfaces foreign_;
  HidPipeServer display_;
  Ids ids_;
};

}  // namespace zol::sim
