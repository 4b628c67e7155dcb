// The named shared-memory section through which a cooperating program borrows the port.
#pragma once

#include <cstdint>

namespace zol {

// The Windows build uses OpenFileMappingA/MapViewOfFile on "kt316sharemem"; tests use memory.
class ShareSection {
 public:
  virtual ~ShareSection() = default;
  // Opens the existing section by name; false when it does not exist or is unusable (its
  // block not committed and writable), so that the next tick looks for it again.
  virtual bool OpenMapping() = 0;
  // Maps the first 255 bytes for writing; null on failure. Only after OpenMapping succeeded.
  virtual uint8_t* MapView() = 0;
  // Unmaps the view (if any) and closes the section handle (if any).
  virtual void Release() = 0;
};

}  // namespace zol
