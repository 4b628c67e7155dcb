#include "sim/memory_share_section.h"

namespace zol::sim {

bool MemoryShareSection::OpenMapping() {
  if (!exists) return false;
  if (open) ++reopens;
  open = true;
  ++opens;
  return true;
}

uint8_t* MemoryShareSection::MapView() {
  if (!open) ++strayMaps;
  ++maps;
  viewGiven = !mapFails;
  return mapFails ? nullptr : block;
}

void MemoryShareSection::Release() {
  if (open) ++releases;
  viewGiven = false;
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

}  // namespace zol::sim
