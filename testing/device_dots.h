// The host pattern of each device pattern: the inverse of the driver's own dot map, for the
// tests, tools and the benchmark that read back what a display received.
#pragma once

#include <array>
#include <cstdint>

#include "connection/dot_map.h"

namespace zol::testing {

namespace device_dots_detail {

constexpr std::array<uint8_t, 256> MakeInverse() {
  std::array<uint8_t, 256> table{};
  for (int host = 0; host < 256; ++host)
    table[kHostToDeviceDots[host]] = static_cast<uint8_t>(host);
  return table;
}

}  // namespace device_dots_detail

// Host pattern of every device pattern, indexed by the device pattern.
inline constexpr std::array<uint8_t, 256> kDeviceToHostDots = device_dots_detail::MakeInverse();

constexpr uint8_t MapDotsToHost(uint8_t deviceDots) {
  return kDeviceToHostDots[deviceDots];
}

}  // namespace zol::testing
