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
};

}  // namespace zol
