// The translator's HID entry points, recording their calls, for a test program that links no
// input translation; with a host link and key injector that do nothing.
#pragma once

#include <cstdint>
#include <vector>

#include "input/host_link.h"
#include "input/key_injector.h"

namespace zol::test {

struct HidKeyCall {
  enum Kind { Routing, Function } kind;
  uint8_t code;
  bool operator==(const HidKeyCall& other) const {
    return kind == other.kind && code == other.code;
  }
};

std::vector<HidKeyCall>& HidKeyCalls();

class NullHostLink : public HostLink {
 public:
  bool HostSet() override { return false; }
  void PostKeyEvent(const char*, int32_t) override {}
  void DeviceData(const uint8_t*, int32_t) override {}
};

class NullKeyInjector : public KeyInjector {
 public:
  int16_t KeyWordForChar(char) override { return -1; }
  void VirtualKey(uint8_t, uint32_t) override {}
  void ScanCode(uint16_t, uint32_t) override {}
};

}  // namespace zol::test
