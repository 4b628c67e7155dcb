// Which I/O failures mean that the display (or its port) is gone.
#pragma once

#include <cstdint>

namespace zol {

// Windows error codes the links meet; the platform adapters pass them on unchanged.
namespace error_code {
inline constexpr uint32_t kAccessDenied = 5;  // also: a serial port that another program holds
inline constexpr uint32_t kNotEnoughMemory = 8;
inline constexpr uint32_t kOutOfMemory = 14;
inline constexpr uint32_t kNoSystemResources = 1450;
inline constexpr uint32_t kNonpagedQuota = 1451;
inline constexpr uint32_t kPagedQuota = 1452;
inline constexpr uint32_t kWorkingSetQuota = 1453;
inline constexpr uint32_t kNotEnoughQuota = 1816;
inline constexpr uint32_t kTimeout = 1460;  // a write that did not complete within its limit
}  // namespace error_code

// A device that is unplugged, a USB-serial adapter that vanished or a driver that gave up
// fails I/O with codes that differ by driver and by Windows version (device not connected, bad
// command, invalid handle, general failure, aborted, not ready, access denied for a handle
// whose device is being removed, broken pipe, ...), so no list of "gone" codes is complete.
// The rule is the other way round: every failure is a loss of the display except a passing
// shortage of memory or quota, after which the same request may well succeed. A loss costs a
// reconnect, which finds a display that is still there at once; a missed loss costs the user
// a display that never comes back.
inline bool IsTransientFailure(uint32_t error) {
  switch (error) {
    case error_code::kNotEnoughMemory:
    case error_code::kOutOfMemory:
    case error_code::kNoSystemResources:
    case error_code::kNonpagedQuota:
    case error_code::kPagedQuota:
    case error_code::kWorkingSetQuota:
    case error_code::kNotEnoughQuota:
      return true;
    default:
      return false;
  }
}

inline bool IsLossOfDevice(uint32_t error) {
  return error != 0 && !IsTransientFailure(error);
}

}  // namespace zol
