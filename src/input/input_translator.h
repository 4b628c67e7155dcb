// Turns key codes from either link into named key events and injected keystrokes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/clock.h"
#include "core/shared_state.h"
#include "input/host_link.h"
#include "input/key_injector.h"

namespace zol {

class InputTranslator {
 public:
  InputTranslator(HostLink& host, KeyInjector& injector, Clock& clock, SharedState& shared);

  // Key naming.
  void HandleFunctionKey(uint8_t code);
  void HandleHidRoutingKey(uint8_t code);
  void HandleSerialRoutingKey(uint8_t code);
  // Text typed on the display: at most `available` bytes are read from text (the rest of the
  // packet), up to the first zero byte.
  void HandleKeyboardText(const uint8_t* text, size_t available, uint8_t count);

  // Keyboard emulation.
  void HandleCharacterCode(uint16_t code);
  void HandleScanCode(uint16_t code);
  void HandleBrailleKeys(uint8_t flags, uint8_t dots, uint8_t character);
  void SendKeyWord(uint16_t keyWord);

  int32_t routingMode() const { return routingMode_; }
  uint32_t scanCodeFlags() const { return scanCodeFlags_; }

 private:
  HostLink& host_;
  KeyInjector& injector_;
  Clock& clock_;
  SharedState& shared_;
  int32_t routingMode_ = 0;
  uint32_t scanCodeFlags_ = 0;
  char keyNameBuffer_[128] = {};
  char keyScratchBuffer_[128] = {};
};

}  // namespace zol
