// What the input translation does that no key event shows the host, told to a watcher (the
// opt-in trace) when one is set.
#pragma once

#include <cstdint>

namespace zol {

class InputWatcher {
 public:
  virtual ~InputWatcher() = default;
  // A key still held when the link ended was released: its make code and the keystroke's
  // flags.
  virtual void HeldKeyReleased(uint16_t scan, uint32_t flags) = 0;
  // A routing key outside the display's text cells was not delivered.
  virtual void RoutingKeyDropped(const char* name, int32_t value, int32_t textCells) = 0;
};

}  // namespace zol
