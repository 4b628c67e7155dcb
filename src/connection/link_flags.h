// Which display link the driver uses.
#pragma once

#include <cstdint>

namespace zol {

// The HID model chosen by the last successful connect. A disconnect closes the device but
// leaves the flag set, so that the poll tick can find the same model again; only the next
// connect clears them. With both flags clear the serial link is used (when a port is open).
struct LinkFlags {
  int32_t hid40Link = 0;
  int32_t hid80Link = 0;

  bool Hid() const { return hid40Link != 0 || hid80Link != 0; }
};

enum class LinkKind { None, Hid40, Hid80, Serial };

// hid40Link wins over hid80Link; without either, the serial link when a port is open.
inline LinkKind ActiveLinkKind(const LinkFlags& flags, bool serialPortOpen) {
  if (flags.hid40Link) return LinkKind::Hid40;
  if (flags.hid80Link) return LinkKind::Hid80;
  return serialPortOpen ? LinkKind::Serial : LinkKind::None;
}

}  // namespace zol
