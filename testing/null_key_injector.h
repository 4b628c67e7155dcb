// A key injector that has no key for any character and drops every keystroke: for code under
// test whose keyboard emulation is not what is being looked at.
#pragma once

#include <cstdint>

#include "input/key_injector.h"

namespace zol::testing {

class NullKeyInjector : public KeyInjector {
 public:
  int16_t KeyWordForChar(char16_t) override { return -1; }
  void VirtualKey(uint8_t, uint32_t) override {}
  void ScanCode(uint16_t, uint32_t) override {}
  void UnicodeCharacter(char16_t) override {}
};

}  // namespace zol::testing
