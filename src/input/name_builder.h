// Composes a zero-terminated key name in a fixed buffer.
#pragma once

#include <cstddef>

namespace zol {

// Every append is bounded: whatever does not fit within kMaxLength characters is cut off, and
// the name stays zero-terminated at all times.
class NameBuilder {
 public:
  // A composed name holds at most 126 characters (127 bytes with the terminator).
  static constexpr size_t kMaxLength = 126;

  template <size_t N>
  explicit NameBuilder(char (&buffer)[N]) : buffer_(buffer) {
    static_assert(N > kMaxLength, "buffer too small for a composed name");
    buffer_[0] = '\0';
  }

  // Appends text up to its first zero byte, reading at most `limit` bytes of it.
  void Append(const char* text, size_t limit = kMaxLength);
  void Append(char c) { Append(&c, 1); }

  const char* c_str() const { return buffer_; }
  size_t length() const { return length_; }

 private:
  char* buffer_;
  size_t length_ = 0;
};

}  // namespace zol
