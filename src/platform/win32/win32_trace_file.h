// The trace's file: each batch of lines is appended and the file closed again, so that no
// handle stays open between batches and another program may read or delete the file.
#pragma once

#include "trace/trace_log.h"

namespace zol::win32 {

class Win32TraceFile final : public TraceSink {
 public:
  // Reads the file name from the environment variable ZOL_TRACE; enabled() is false when it is
  // unset, empty or too long.
  Win32TraceFile();
  bool enabled() const { return path_[0] != '\0'; }
  void Write(const char* text, size_t length) override;

 private:
  char path_[260] = {};
};

}  // namespace zol::win32
