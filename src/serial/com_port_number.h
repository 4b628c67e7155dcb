// The number of a COM port, taken from its name.
#pragma once

#include <cstdint>

namespace zol {

// The decimal number after the first "COM" in name (case-sensitive), read like strtol in base
// 10: leading white space and a sign are allowed, reading stops at the first non-digit, and
// 0 results when no digit follows. Values beyond 32 bits saturate, as strtol does where a long
// has 32 bits. A name without "COM" (or a null name) gives 0.
int32_t ComPortNumber(const char* name);

}  // namespace zol
