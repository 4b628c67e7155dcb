// Names of the display's function keys as the host receives them.
#pragma once

namespace zol {

// Function-key code c (1 to 64) selects row c - 1. Four groups of sixteen: plain, S (shift),
// L (long press) and SL. The last two rows of each group are empty: those codes have no name
// (codes 63 and 64 switch the routing mode instead).
inline constexpr char keyNameTable[64][128] = {
    // Codes 1 to 16.
    "F1", "F2", "F3", "F4", "F5", "F6", "F7", "F8", "F9", "F10", "LF", "UP", "RG", "DN", "", "",
    // Codes 17 to 32.
    "SF1", "SF2", "SF3", "SF4", "SF5", "SF6", "SF7", "SF8", "SF9", "SF10", "SLF", "SUP", "SRG",
    "SDN", "", "",
    // Codes 33 to 48.
    "LF1", "LF2", "LF3", "LF4", "LF5", "LF6", "LF7", "LF8", "LF9", "LF10", "LLF", "LUP", "LRG",
    "LDN", "", "",
    // Codes 49 to 64.
    "SLF1", "SLF2", "SLF3", "SLF4", "SLF5", "SLF6", "SLF7", "SLF8", "SLF9", "SLF10", "SLLF", "SLUP",
    "SLRG", "SLDN", "", ""};

}  // namespace zol
