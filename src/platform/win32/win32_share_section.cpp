#include "platform/win32/win32_share_section.h"

#include <windows.h>

#include "connection/share_block.h"

namespace zol::win32 {

Win32ShareSection::~Win32ShareSection() {
  Release();
}

bool Win32ShareSection::OpenMapping() {
  // Reading and writing are all the driver needs, and all that a block created by another
  // account or an elevated program grants; FILE_MAP_ALL_ACCESS would also ask for the rights
  // to delete it and to change its permissions and be refused there.
  if (mapping_ == nullptr)
    mapping_ = OpenFileMappingA(FILE_MAP_READ | FILE_MAP_WRITE, TRUE, kShareSectionName);
  return mapping_ != nullptr;
}

uint8_t* Win32ShareSection::MapView() {
  if (mapping_ == nullptr) return nullptr;
  if (view_ == nullptr) view_ = MapViewOfFile(mapping_, FILE_MAP_WRITE, 0, 0, kShareViewSize);
  return static_cast<uint8_t*>(view_);
}

void Win32ShareSection::Release() {
  if (view_ != nullptr) UnmapViewOfFile(view_);
  if (mapping_ != nullptr) CloseHandle(mapping_);
  view_ = nullptr;
  mapping_ = nullptr;
}

}  // namespace zol::win32
