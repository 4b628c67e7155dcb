// The opt-in I/O trace: timestamped lines collected while the worker thread does device I/O and
// written out after each command, so that writing the file never sits between a request and
// its reply on the wire.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/clock.h"

namespace zol {

// Where finished trace text goes (a file in the driver, memory in tests).
class TraceSink {
 public:
  virtual ~TraceSink() = default;
  virtual void Write(const char* text, size_t length) = 0;
};

// Collects lines in a fixed buffer; Flush hands them to the sink. Lines that do not fit until
// the next flush are counted and reported instead of growing the buffer. Worker thread only.
class TraceLog {
 public:
  static constexpr size_t kBufferSize = 64 * 1024;
  static constexpr size_t kLineSize = 512;

  TraceLog(Clock& clock, TraceSink& sink) : clock_(clock), sink_(sink) {}

  // One line: "<ms tick> <text>", formatted like printf.
  void Line(const char* format, ...);
  // One line: "<ms tick> <label> <n bytes as hex>".
  void Bytes(const char* label, const uint8_t* data, size_t length);
  void Flush();

  uint64_t droppedLines() const { return droppedTotal_; }

 private:
  void Append(const char* line, size_t length);

  Clock& clock_;
  TraceSink& sink_;
  char buffer_[kBufferSize];
  size_t used_ = 0;
  uint64_t droppedSinceFlush_ = 0;
  uint64_t droppedTotal_ = 0;
};

}  // namespace zol
