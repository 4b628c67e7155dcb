// Stand-ins for the driver object and the cooperating program, for the device-side tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "input/host_link.h"
#include "input/key_injector.h"
#include "sim/memory_share_section.h"

namespace zol::test {

using MemoryShareSection = sim::MemoryShareSection;

class HostRecorder : public HostLink {
 public:
  struct Event {
    std::string name;
    int32_t value;
  };
  bool HostSet() override { return true; }
  void PostKeyEvent(const char* name, int32_t value) override { events.push_back({name, value}); }
  void DeviceData(const uint8_t*, int32_t) override {}

  std::vector<Event> events;
};

class NullKeyInjector : public KeyInjector {
 public:
  int16_t KeyWordForChar(char16_t) override { return -1; }
  void VirtualKey(uint8_t, uint32_t) override {}
  void ScanCode(uint16_t, uint32_t) override {}
  void UnicodeCharacter(char16_t) override {}
};

}  // namespace zol::test
