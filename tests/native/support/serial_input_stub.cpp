// Stand-in for the input translation while its implementation is not in the tree. It produces
// the same events and keystrokes as the real one for the inputs the serial tests use, and
// compiles to nothing as soon as src/input/input_translator.cpp exists.
#if !__has_include("../../../src/input/input_translator.cpp")

#include <cstdio>
#include <cstring>

#include "input/input_translator.h"

namespace zol {

namespace {

constexpr const char* kFunctionKeyBases[14] = {"F1", "F2", "F3",  "F4", "F5", "F6", "F7",
                                               "F8", "F9", "F10", "LF", "UP", "RG", "DN"};
constexpr const char* kFunctionKeyGroups[4] = {"", "S", "L", "SL"};

}  // namespace

InputTranslator::InputTranslator(HostLink& host, KeyInjector& injector, Clock& clock,
                                 SharedState& shared)
    : host_(host), injector_(injector), clock_(clock), shared_(shared) {
  static_cast<void>(clock_);
  static_cast<void>(keyScratchBuffer_);
}

void InputTranslator::HandleFunctionKey(uint8_t code) {
  if (code > 64) return;
  if (code == 63) routingMode_ = 1;
  if (code == 64) routingMode_ = 0;
  if (!host_.HostSet() || code == 0) return;
  const int group = (code - 1) / 16;
  const int position = (code - 1) % 16;
  if (position >= 14) return;
  std::snprintf(keyNameBuffer_, sizeof keyNameBuffer_, "%s%s", kFunctionKeyGroups[group],
                kFunctionKeyBases[position]);
  host_.PostKeyEvent(keyNameBuffer_, 0);
}

void InputTranslator::HandleHidRoutingKey(uint8_t code) {
  if (!host_.HostSet() || code >= 128) return;
  host_.PostKeyEvent(routingMode_ != 0 ? "Routing2" : "Routing", code);
}

void InputTranslator::HandleSerialRoutingKey(uint8_t code) {
  if (!host_.HostSet()) return;
  const int k = code & 0x7F;
  const bool second = (code & 0x80) != 0 || routingMode_ != 0;
  if (shared_.statusCellCount.load() == 2) {
    if (k == 1 || k == 2) {
      host_.PostKeyEvent(
          second ? (k == 1 ? "STATUS3" : "STATUS4") : (k == 1 ? "STATUS1" : "STATUS2"), 0);
      return;
    }
    host_.PostKeyEvent(second ? "Routing2" : "Routing", k - 2);
    return;
  }
  host_.PostKeyEvent(second ? "Routing2" : "Routing", k);
}

void InputTranslator::HandleKeyboardText(const uint8_t* text, size_t available, uint8_t) {
  size_t n = 0;
  while (n < available && n < 119 && text[n] != 0) ++n;
  std::snprintf(keyNameBuffer_, sizeof keyNameBuffer_, "qwerty:%.*s", static_cast<int>(n),
                reinterpret_cast<const char*>(text));
  host_.PostKeyEvent(keyNameBuffer_, 0);
}

void InputTranslator::HandleCharacterCode(uint16_t code) {
  if (code < 128)
    SendKeyWord(static_cast<uint16_t>(injector_.KeyWordForChar(static_cast<char>(code))));
  if (code == 256) SendKeyWord(0x000D);
}

void InputTranslator::HandleScanCode(uint16_t code) {
  if (code == 0xE0) scanCodeFlags_ |= 1;
  if (code == 0xF0) scanCodeFlags_ |= 2;
  if (code >= 0xE0) return;
  const uint16_t entry = code == 0x1C ? 0x9E : 0;  // the A key
  injector_.ScanCode((scanCodeFlags_ & 2) != 0 ? entry : entry & 0x7F, scanCodeFlags_ | 8);
  scanCodeFlags_ = 0;
}

void InputTranslator::HandleBrailleKeys(uint8_t flags, uint8_t dots, uint8_t character) {
  if (flags == 0 || character == ' ') {
    SendKeyWord(static_cast<uint16_t>(injector_.KeyWordForChar(static_cast<char>(character))));
    return;
  }
  if ((flags & 4) != 0) return;
  std::strcpy(keyNameBuffer_, (flags & 2) != 0 ? "shift KBD" : "KBD");
  for (int n = 1; n <= 8; ++n) {
    if ((dots & (1 << (n - 1))) != 0) {
      const char digit[2] = {static_cast<char>('0' + n), 0};
      std::strcat(keyNameBuffer_, digit);
    }
  }
  host_.PostKeyEvent(keyNameBuffer_, 0);
}

void InputTranslator::SendKeyWord(uint16_t keyWord) {
  static constexpr uint8_t kModifiers[3][2] = {{0x01, 0x10}, {0x02, 0x11}, {0x04, 0x12}};
  const uint8_t high = static_cast<uint8_t>(keyWord >> 8);
  for (const auto& m : kModifiers)
    if ((high & m[0]) != 0) injector_.VirtualKey(m[1], 0);
  injector_.VirtualKey(static_cast<uint8_t>(keyWord & 0xFF), 0);
  injector_.VirtualKey(static_cast<uint8_t>(keyWord & 0xFF), 2);
  for (const auto& m : kModifiers)
    if ((high & m[0]) != 0) injector_.VirtualKey(m[1], 2);
}

}  // namespace zol

#endif
