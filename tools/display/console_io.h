// The clock, the line output and the line input shared by the programs that serve a display on a
// pty (serial_display_sim, virtual_display).
#pragma once

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <thread>

#include "core/clock.h"

namespace zol::tools {

// Milliseconds since the program started.
class SteadyClock : public Clock {
 public:
  uint32_t Now() override {
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - start_)
                                     .count());
  }
  void Sleep(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// One line on standard output, at once (another program may be waiting for it).
inline void WriteLine(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// Collects complete lines from a non-blocking descriptor. Carriage returns and NUL bytes (some
// terminals send them) are dropped.
class LineReader {
 public:
  // False at the end of the input.
  bool ReadFrom(int fd, std::deque<std::string>* lines) {
    char chunk[1024];
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n == 0) {
      if (!partial_.empty()) lines->push_back(partial_);
      partial_.clear();
      return false;
    }
    if (n < 0) return errno == EAGAIN || errno == EINTR;
    for (ssize_t i = 0; i < n; ++i) {
      if (chunk[i] == '\n') {
        lines->push_back(partial_);
        partial_.clear();
      } else if (chunk[i] != '\r' && chunk[i] != '\0') {
        partial_ += chunk[i];
      }
    }
    return true;
  }

 private:
  std::string partial_;
};

}  // namespace zol::tools
