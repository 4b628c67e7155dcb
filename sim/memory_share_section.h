// The port-sharing block as a cooperating program sees it, in memory: it exists once Create()
// was called, and records how the driver opens, maps and releases it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "connection/share_section.h"

namespace zol::sim {

class MemoryShareSection : public ShareSection {
 public:
  static constexpr size_t kSize = 255;

  bool OpenMapping() override;
  uint8_t* MapView() override;
  void Release() override;

  void Create() { exists = true; }
  void SetWord(size_t offset, int32_t value);
  int32_t Word(size_t offset) const;

  bool exists = false;
  bool mapFails = false;
  bool open = false;       // a handle is open
  bool viewGiven = false;  // the last view asked for was mapped and is not released
  int opens = 0;
  int maps = 0;
  int releases = 0;   // releases of an open handle
  int reopens = 0;    // opens while a handle was still open (a leaked handle)
  int strayMaps = 0;  // views asked for without an open handle
  uint8_t block[kSize] = {};
};

}  // namespace zol::sim
