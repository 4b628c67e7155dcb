// Which display link the driver uses.
#pragma once

#include <cstdint>

#include "hid/hid_models.h"

namespace zol {

// The HID model chosen by the last successful connect. A disconnect closes the device but
// leaves the model set, so that the poll tick can find the same model again; only the next
// connect clears it. Without a model the serial link is used (when a port is open).
struct LinkFlags {
  HidKind hidModel = kHidNone;

  bool Hid() const { return hidModel != kHidNone; }
};

// A HID link is named by its model's kind.
enum class LinkKind : int32_t { None = kHidNone, Hid40 = kHid40, Hid80 = kHid80, Serial = -1 };

inline LinkKind ActiveLinkKind(const LinkFlags& flags, bool serialPortOpen) {
  if (flags.Hid()) return static_cast<LinkKind>(flags.hidModel);
  return serialPortOpen ? LinkKind::Serial : LinkKind::None;
}

}  // namespace zol
