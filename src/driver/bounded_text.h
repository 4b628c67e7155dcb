// Copies between host buffers and the driver's fixed text fields that never run past either
// side. Platform-neutral.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zol {

// Length of text, looking at no more than max bytes.
inline size_t BoundedLength(const char* text, size_t max) {
  const void* end = std::memchr(text, 0, max);
  return end ? static_cast<size_t>(static_cast<const char*>(end) - text) : max;
}

// Stores text in a fixed field of size bytes: at most size bytes are taken, the rest of the
// field is zero. A text of size characters or more fills the field and has no terminator. A
// null text leaves the field all zero.
inline void CopyToField(char* field, size_t size, const char* text) {
  const size_t length = text ? BoundedLength(text, size) : 0;
  if (length > 0) std::memcpy(field, text, length);
  std::memset(field + length, 0, size - length);
}

// Copies a field of fieldSize bytes (which may lack a terminator) into a host buffer of length
// bytes: the text, then zero bytes up to length, with the last byte always 0. Returns the
// length of the text now in the buffer (at most length - 1). A null buffer or a length below 1
// has no room even for the terminator: nothing is written and the result is 0.
inline int32_t CopyFieldOut(const char* field, size_t fieldSize, char* buffer, int32_t length) {
  if (!buffer || length < 1) return 0;
  const size_t room = static_cast<size_t>(length) - 1;
  const size_t text = BoundedLength(field, fieldSize < room ? fieldSize : room);
  std::memcpy(buffer, field, text);
  std::memset(buffer + text, 0, static_cast<size_t>(length) - text);
  return static_cast<int32_t>(text);
}

// Stores text as a terminated string in a buffer of size bytes (size >= 1), cut to size - 1
// characters. A null text gives the empty string.
inline void CopyTerminated(char* buffer, size_t size, const char* text) {
  const size_t length = text ? BoundedLength(text, size - 1) : 0;
  if (length > 0) std::memcpy(buffer, text, length);
  buffer[length] = 0;
}

}  // namespace zol
