// Conversion of the host's 8-dot patterns to the display's bit order.
#pragma once

#include <array>
#include <cstdint>

namespace zol {

namespace dot_map_detail {

// Device bit that each host bit moves to: host bits 0, 1, 2 and 6 fill the low half-byte from
// its top down, host bits 3, 4, 5 and 7 the high half-byte the same way.
constexpr uint8_t kDeviceBitOfHostBit[8] = {3, 2, 1, 7, 6, 5, 0, 4};

constexpr uint8_t MoveBits(uint8_t host) {
  uint8_t device = 0;
  for (int bit = 0; bit < 8; ++bit) {
    if (host & (1u << bit)) device |= static_cast<uint8_t>(1u << kDeviceBitOfHostBit[bit]);
  }
  return device;
}

constexpr std::array<uint8_t, 256> MakeTable() {
  std::array<uint8_t, 256> table{};
  for (int host = 0; host < 256; ++host) table[host] = MoveBits(static_cast<uint8_t>(host));
  return table;
}

}  // namespace dot_map_detail

// Device pattern of every host pattern, indexed by the host pattern.
inline constexpr std::array<uint8_t, 256> kHostToDeviceDots = dot_map_detail::MakeTable();

constexpr uint8_t MapDotsToDevice(uint8_t hostDots) {
  return kHostToDeviceDots[hostDots];
}

}  // namespace zol
