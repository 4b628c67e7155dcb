// What a HID interface path says about the device behind it.
#pragma once

#include <cstdint>

namespace zol::hid {

struct PathIds {
  uint16_t vendorId = 0;
  uint16_t productId = 0;
};

// Windows names the interfaces of USB HID devices with their ids, as in
// \\?\hid#vid_04d8&pid_abd7#7&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}.
// Reads "vid_" and "pid_", each followed by four hexadecimal digits, in any case. False when
// the path does not carry both: Bluetooth, I2C and other buses name their interfaces
// differently, and only the device's attributes tell those apart.
bool IdsFromPath(const char* path, PathIds* ids);

}  // namespace zol::hid
