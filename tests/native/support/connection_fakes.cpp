#include "support/connection_fakes.h"

namespace zol::test {

bool MemoryShareSection::OpenMapping() {
  if (!exists) return false;
  open = true;
  ++opens;
  return true;
}

uint8_t* MemoryShareSection::MapView() {
  ++maps;
  return mapFails ? nullptr : block;
}

void MemoryShareSection::Release() {
  open = false;
}

void MemoryShareSection::SetWord(size_t offset, int32_t value) {
  const uint32_t bits = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; ++i) block[offset + i] = static_cast<uint8_t>(bits >> (8 * i));
}

int32_t MemoryShareSection::Word(size_t offset) const {
  uint32_t bits = 0;
  for (int i = 0; i < 4; ++i) bits |= static_cast<uint32_t>(block[offset + i]) << (8 * i);
  return static_cast<int32_t>(bits);
}

void DriverControlRecorder::PostClear() {
  ++clearsPosted;
  if (shared_.suspended.load() == 0) queued.push_back(Command::Clear);
}

void DriverControlRecorder::PostSelfSuspend() {
  ++selfSuspends;
  shared_.suspended = 1;
  queued.push_back(Command::Suspend);
}

void DriverControlRecorder::RunQueued(DeviceService& device) {
  while (!queued.empty()) {
    const Command command = queued.front();
    queued.erase(queued.begin());
    if (command == Command::Clear) {
      device.Clear();
    } else {
      device.Suspend(1);
    }
  }
}

}  // namespace zol::test
