// The host pattern of each device pattern: the inverse of the driver's own dot map, for the
// tests, tools and the benchmark that read back what a display received.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

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

// count host patterns whose device patterns are first, first + 1, ...
inline std::vector<uint8_t> HostCells(size_t count, uint8_t first) {
  std::vector<uint8_t> cells(count);
  for (size_t i = 0; i < count; ++i) cells[i] = MapDotsToHost(static_cast<uint8_t>(first + i));
  return cells;
}

// A frame of frameCells blank cells (host's size when 0) with the device patterns of host from
// cell offset on.
inline std::vector<uint8_t> DeviceCells(const std::vector<uint8_t>& host, size_t frameCells = 0,
                                        size_t offset = 0) {
  std::vector<uint8_t> frame(frameCells != 0 ? frameCells : host.size(), 0);
  for (size_t i = 0; i < host.size() && offset + i < frame.size(); ++i)
    frame[offset + i] = MapDotsToDevice(host[i]);
  return frame;
}

}  // namespace zol::testing
