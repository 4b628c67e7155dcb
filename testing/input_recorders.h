// Recording stand-ins for the host boundary and the keystroke injection of InputTranslator.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "input/host_link.h"
#include "input/key_injector.h"

namespace zol::testing {

struct KeyEvent {
  std::string name;
  int32_t value;
  bool operator==(const KeyEvent& other) const {
    return name == other.name && value == other.value;
  }
};
std::ostream& operator<<(std::ostream& out, const KeyEvent& event);

class RecordingHostLink : public HostLink {
 public:
  bool HostSet() override { return hostSet; }
  void PostKeyEvent(const char* name, int32_t value) override {
    events.push_back({name, value});
    if (onKeyEvent) onKeyEvent();
  }
  void DeviceData(const uint8_t* data, int32_t length) override {
    deviceData.emplace_back(data, data + length);
    if (onDeviceData) onDeviceData();
  }

  bool hostSet = true;
  std::vector<KeyEvent> events;
  std::vector<std::vector<uint8_t>> deviceData;
  // Let a test see what had happened by the time of a call.
  std::function<void()> onKeyEvent;
  std::function<void()> onDeviceData;
};

// One injected keystroke: a virtual key (scan code 0), a scan code (virtual key 0), or a
// Unicode character (press and release in one).
struct Keystroke {
  enum Kind { kVirtualKey, kScanCode, kUnicode } kind;
  uint16_t code;
  uint32_t flags;
  bool operator==(const Keystroke& other) const {
    return kind == other.kind && code == other.code && flags == other.flags;
  }
};
std::ostream& operator<<(std::ostream& out, const Keystroke& keystroke);

inline Keystroke Down(uint8_t vk) {
  return {Keystroke::kVirtualKey, vk, 0};
}
inline Keystroke Up(uint8_t vk) {
  return {Keystroke::kVirtualKey, vk, 2};
}
inline Keystroke Scan(uint16_t scan, uint32_t flags) {
  return {Keystroke::kScanCode, scan, flags};
}
inline Keystroke Unicode(char16_t character) {
  return {Keystroke::kUnicode, character, 0};
}

// Answers KeyWordForChar from a small US layout (letters, digits, space, Enter); every other
// character has no key (-1) unless set with SetKeyWord.
class RecordingKeyInjector : public KeyInjector {
 public:
  RecordingKeyInjector();
  void SetKeyWord(char16_t c, int16_t keyWord) { layout_[c] = keyWord; }

  int16_t KeyWordForChar(char16_t c) override;
  void VirtualKey(uint8_t vk, uint32_t flags) override {
    keystrokes.push_back({Keystroke::kVirtualKey, vk, flags});
  }
  void ScanCode(uint16_t scan, uint32_t flags) override {
    keystrokes.push_back({Keystroke::kScanCode, scan, flags});
  }
  void UnicodeCharacter(char16_t character) override { keystrokes.push_back(Unicode(character)); }

  std::vector<char16_t> asked;  // characters given to KeyWordForChar, in order
  std::vector<Keystroke> keystrokes;

 private:
  std::map<char16_t, int16_t> layout_;
};

}  // namespace zol::testing
