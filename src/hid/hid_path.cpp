#include "hid/hid_path.h"

namespace zol::hid {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The four hexadecimal digits after the first occurrence of key (lower case, 4 characters).
bool FieldAfter(const char* path, const char* key, uint16_t* value) {
  for (const char* at = path; *at != '\0'; ++at) {
    int matched = 0;
    while (matched < 4 && Lower(at[matched]) == key[matched]) ++matched;
    if (matched < 4) continue;
    uint16_t number = 0;
    for (int i = 0; i < 4; ++i) {
      const int digit = HexDigit(at[4 + i]);
      if (digit < 0) return false;
      number = static_cast<uint16_t>(number << 4 | digit);
    }
    *value = number;
    return true;
  }
  return false;
}

}  // namespace

bool IdsFromPath(const char* path, PathIds* ids) {
  if (path == nullptr) return false;
  PathIds found;
  if (!FieldAfter(path, "vid_", &found.vendorId) || !FieldAfter(path, "pid_", &found.productId))
    return false;
  *ids = found;
  return true;
}

}  // namespace zol::hid
