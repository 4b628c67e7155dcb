#include "serial/com_port_number.h"

#include <cstring>

namespace zol {

namespace {

bool IsSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace

int32_t ComPortNumber(const char* name) {
  if (name == nullptr) return 0;
  const char* p = std::strstr(name, "COM");
  if (p == nullptr) return 0;
  p += 3;
  while (IsSpace(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  // Accumulate the magnitude with room for INT32_MIN and saturate beyond it.
  const int64_t limit = negative ? int64_t{INT32_MAX} + 1 : int64_t{INT32_MAX};
  int64_t magnitude = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    magnitude = magnitude * 10 + (*p - '0');
    if (magnitude > limit) magnitude = limit;
  }
  return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

}  // namespace zol
