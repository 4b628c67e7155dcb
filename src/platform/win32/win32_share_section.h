// The port-sharing block as a named Windows file mapping.
#pragma once

#include "connection/share_section.h"

namespace zol::win32 {

// Opens the section "kt316sharemem" that the cooperating program created, for reading and
// writing with a handle no child process inherits, and maps its first 255 bytes for writing. A
// section whose first 255 bytes are not committed, readable and writable counts as absent (its
// first read would fault). A view that cannot be mapped at all is left unmapped: the block is
// then ignored. The destructor releases whatever is still open.
class Win32ShareSection final : public ShareSection {
 public:
  Win32ShareSection() = default;
  ~Win32ShareSection() override;
  Win32ShareSection(const Win32ShareSection&) = delete;
  Win32ShareSection& operator=(const Win32ShareSection&) = delete;

  bool OpenMapping() override;
  uint8_t* MapView() override;
  void Release() override;

  // For the tests: whether the open section's handle would be inherited.
  bool MappingInheritable() const;

 private:
  void* mapping_ = nullptr;  // HANDLE
  void* view_ = nullptr;
};

}  // namespace zol::win32
