// Layout and protocol values of the port-sharing block that a cooperating program creates.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zol {

inline constexpr char kShareSectionName[] = "kt316sharemem";
inline constexpr uint32_t kShareViewSize = 255;

// Offsets of the little-endian 32-bit words the driver uses.
inline constexpr size_t kShareWordOffset = 0;       // command and status word, signed
inline constexpr size_t kShareIdentify1Offset = 4;  // written when the port is released
inline constexpr size_t kShareIdentify2Offset = 8;

// Values of the command and status word.
inline constexpr int32_t SHARE_REQUEST_RELEASE = 101;  // the other program asks for the port
inline constexpr int32_t SHARE_RELEASED = 102;         // the driver let go of the port
inline constexpr int32_t SHARE_RETURN_BASE = 200;      // 200 + n: take the port back, answer n

}  // namespace zol
