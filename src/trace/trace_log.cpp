#include "trace/trace_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace zol {

void TraceLog::Line(const char* format, ...) {
  char line[kLineSize];
  int prefix = std::snprintf(line, sizeof line, "%10u ", clock_.Now());
  if (prefix < 0) return;
  va_list args;
  va_start(args, format);
  int body = std::vsnprintf(line + prefix, sizeof line - prefix, format, args);
  va_end(args);
  if (body < 0) return;
  size_t length = static_cast<size_t>(prefix) + static_cast<size_t>(body);
  if (length > sizeof line - 2) length = sizeof line - 2;
  line[length++] = '\n';
  Append(line, length);
}

void TraceLog::Bytes(const char* label, const uint8_t* data, size_t length) {
  static const char kHex[] = "0123456789ABCDEF";
  char hex[kLineSize - 64];
  size_t shown = length;
  if (shown > (sizeof hex - 8) / 3) shown = (sizeof hex - 8) / 3;
  size_t at = 0;
  for (size_t i = 0; i < shown; ++i) {
    hex[at++] = kHex[data[i] >> 4];
    hex[at++] = kHex[data[i] & 15];
    hex[at++] = ' ';
  }
  if (shown < length) {
    std::memcpy(hex + at, "...", 3);
    at += 3;
  } else if (at > 0) {
    --at;
  }
  hex[at] = '\0';
  Line("%s [%u] %s", label, static_cast<unsigned>(length), hex);
}

void TraceLog::Append(const char* line, size_t length) {
  if (used_ + length > sizeof buffer_) {
    ++droppedSinceFlush_;
    ++droppedTotal_;
    return;
  }
  std::memcpy(buffer_ + used_, line, length);
  used_ += length;
}

void TraceLog::Flush() {
  if (droppedSinceFlush_ != 0) {
    char note[96];
    int n = std::snprintf(note, sizeof note, "%10u trace: %u lines dropped (buffer full)\n",
                          clock_.Now(), static_cast<unsigned>(droppedSinceFlush_));
    droppedSinceFlush_ = 0;
    if (used_ != 0) sink_.Write(buffer_, used_);
    used_ = 0;
    if (n > 0) sink_.Write(note, static_cast<size_t>(n) < sizeof note ? n : sizeof note - 1);
    return;
  }
  if (used_ == 0) return;
  sink_.Write(buffer_, used_);
  used_ = 0;
}

}  // namespace zol
