#include "connection/port_sharing.h"

#include <atomic>
#include <cstring>

#include "connection/share_block.h"

namespace zol {

PortSharing::PortSharing(ShareSection& section, const SerialLink& serial, PortUser& user)
    : section_(section), serial_(serial), user_(user) {}

int PortSharing::ServicePortSharing() {
  if (!mappingOpen_) {
    if (section_.OpenMapping()) {
      mappingOpen_ = true;
      // A view that cannot be mapped is not tried again: the block is ignored from then on.
      view_ = section_.MapView();
    }
    return 1;
  }
  if (view_ == nullptr) return 1;

  const int32_t word = ReadWord(kShareWordOffset);
  const bool serialSession = user_.HoldsSerialPort();
  if (word >= SHARE_RETURN_BASE) {
    WriteWord(kShareWordOffset, word - SHARE_RETURN_BASE);
    if (portReleased_ || serialSession) SetPortReleased(0);
    // Dropped for one tick; the section is opened again on the next one if it still exists.
    Release();
    return 1;
  }
  if (portReleased_) return 0;
  if (!serialSession) {
    if (word == SHARE_REQUEST_RELEASE) ++refusedRequests_;
    WriteWord(kShareWordOffset, 0);
    return 1;
  }
  if (word == SHARE_REQUEST_RELEASE) {
    SetPortReleased(1);
    WriteWord(kShareIdentify1Offset, serial_.identifyInfo1());
    WriteWord(kShareIdentify2Offset, serial_.identifyInfo2());
    // A reader that sees the released status must find both identify words already written.
    std::atomic_thread_fence(std::memory_order_release);
    WriteWord(kShareWordOffset, SHARE_RELEASED);
    return 1;
  }
  WriteWord(kShareWordOffset, serial_.comPortNumber());
  return 1;
}

void PortSharing::SetPortReleased(int32_t release) {
  if (release != 0) {
    portReleased_ = 1;
    user_.ReleasePort();
  } else {
    portReleased_ = 0;
    user_.ReclaimPort();
  }
}

void PortSharing::Release() {
  if (mappingOpen_) section_.Release();
  mappingOpen_ = false;
  view_ = nullptr;
}

int32_t PortSharing::ReadWord(size_t offset) const {
  uint8_t bytes[4];
  std::memcpy(bytes, view_ + offset, sizeof bytes);
  const uint32_t value = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
                         static_cast<uint32_t>(bytes[2]) << 16 |
                         static_cast<uint32_t>(bytes[3]) << 24;
  return static_cast<int32_t>(value);
}

void PortSharing::WriteWord(size_t offset, int32_t value) {
  const uint32_t bits = static_cast<uint32_t>(value);
  const uint8_t bytes[4] = {static_cast<uint8_t>(bits), static_cast<uint8_t>(bits >> 8),
                            static_cast<uint8_t>(bits >> 16), static_cast<uint8_t>(bits >> 24)};
  std::memcpy(view_ + offset, bytes, sizeof bytes);
}

}  // namespace zol
