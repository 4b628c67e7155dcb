// The driver's name and GUID as GetDriverIdentity reports them. Platform-neutral.
#pragma once

#include <cstdint>
#include <cstring>

namespace zol {

inline constexpr char kDriverName[] = "ZOL";

// {7A1C4E90-2B3D-4F58-9E61-0C8D5A7B3F24} as the 16 bytes of the in-memory GUID record: a 32-bit
// and two 16-bit fields in little-endian order, then 8 bytes as they stand.
inline constexpr uint8_t kDriverGuidBytes[16] = {0x90, 0x4E, 0x1C, 0x7A, 0x3D, 0x2B, 0x58, 0x4F,
                                                 0x9E, 0x61, 0x0C, 0x8D, 0x5A, 0x7B, 0x3F, 0x24};

// Writes the name with its terminator into nameBuffer (nameLength bytes) and the GUID record
// into id; returns 1. Returns 0 and writes nothing when either pointer is null or the buffer
// cannot hold the name and its terminator: a cut name would identify another driver.
inline int32_t CopyDriverIdentity(char* nameBuffer, int32_t nameLength, void* id) {
  if (!nameBuffer || !id || nameLength < static_cast<int32_t>(sizeof kDriverName)) return 0;
  std::memcpy(nameBuffer, kDriverName, sizeof kDriverName);
  std::memcpy(id, kDriverGuidBytes, sizeof kDriverGuidBytes);
  return 1;
}

}  // namespace zol
