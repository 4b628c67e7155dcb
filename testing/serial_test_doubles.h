// Recording host and keystroke injector for the serial link tests. Each record notes how many
// bytes the driver had written to the simulated display by then, so a test can tell whether
// an acknowledgement went out before the key was handled.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "input/host_link.h"
#include "input/key_injector.h"
#include "sim/serial_display.h"

namespace zol::serialtest {

struct KeyEventRecord {
  std::string name;
  int32_t value;
  size_t bytesWritten;
};

struct KeystrokeRecord {
  uint16_t key;  // virtual key or scan code
  uint32_t flags;
  bool scanCode;
};

class RecordingHost : public HostLink {
 public:
  explicit RecordingHost(const sim::SerialDisplay* display = nullptr) : display_(display) {}
  bool HostSet() override { return true; }
  void PostKeyEvent(const char* name, int32_t value) override {
    events.push_back({name, value, display_ != nullptr ? display_->wire().size() : 0});
  }
  void DeviceData(const uint8_t* data, int32_t length) override {
    deviceData.emplace_back(data, data + length);
  }

  std::vector<KeyEventRecord> events;
  std::vector<std::vector<uint8_t>> deviceData;

 private:
  const sim::SerialDisplay* display_;
};

// A US layout for letters, digits and the space; every other character has no key.
class RecordingInjector : public KeyInjector {
 public:
  int16_t KeyWordForChar(char16_t c) override {
    if (c >= 'a' && c <= 'z') return static_cast<int16_t>(c - 'a' + 'A');
    if (c >= 'A' && c <= 'Z') return static_cast<int16_t>(0x100 | c);
    if ((c >= '0' && c <= '9') || c == ' ') return c;
    return -1;
  }
  void VirtualKey(uint8_t vk, uint32_t flags) override { keys.push_back({vk, flags, false}); }
  void ScanCode(uint16_t scan, uint32_t flags) override { keys.push_back({scan, flags, true}); }
  void UnicodeCharacter(char16_t) override {}

  std::vector<KeystrokeRecord> keys;
};

inline bool operator==(const KeystrokeRecord& a, const KeystrokeRecord& b) {
  return a.key == b.key && a.flags == b.flags && a.scanCode == b.scanCode;
}

}  // namespace zol::serialtest
