// Small pieces the fuzz targets share: the input read as a script, a check that stops the run,
// and a host that counts the key events it is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "input/host_link.h"

namespace zol::fuzz {

// Stops the run with the line of the failed check.
inline void Check(bool condition, const char* file = __builtin_FILE(),
                  int line = __builtin_LINE()) {
  if (condition) return;
  std::fprintf(stderr, "check failed at %s:%d\n", file, line);
  std::abort();
}

// Reads the fuzzer's input front to back; past its end every byte reads 0.
class Script {
 public:
  Script(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool done() const { return at_ >= size_; }
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  int32_t Word() {
    uint32_t bits = 0;
    for (int i = 0; i < 4; ++i) bits |= static_cast<uint32_t>(Byte()) << (8 * i);
    return static_cast<int32_t>(bits);
  }
  void Bytes(uint8_t* out, size_t count) {
    for (size_t i = 0; i < count; ++i) out[i] = Byte();
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

class CountingHost : public HostLink {
 public:
  bool HostSet() override { return true; }
  void PostKeyEvent(const char*, int32_t) override { ++events; }
  void DeviceData(const uint8_t*, int32_t) override {}
  int events = 0;
};

}  // namespace zol::fuzz
