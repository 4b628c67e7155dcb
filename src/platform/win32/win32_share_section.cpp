#include "platform/win32/win32_share_section.h"

#include <windows.h>

#include "connection/share_block.h"

namespace zol::win32 {

namespace {

// Whether the bytes [view, view + size) are committed pages this process may read and write: a
// section created with reserved pages (SEC_RESERVE) maps, but the first read of a page its
// creator never committed faults.
bool ReadableAndWritable(const void* view, size_t size) {
  const auto* address = static_cast<const uint8_t*>(view);
  const uint8_t* end = address + size;
  while (address < end) {
    MEMORY_BASIC_INFORMATION region;
    if (VirtualQuery(address, &region, sizeof region) != sizeof region) return false;
    const DWORD access = region.Protect & 0xFF;
    const bool writable = access == PAGE_READWRITE || access == PAGE_WRITECOPY ||
                          access == PAGE_EXECUTE_READWRITE || access == PAGE_EXECUTE_WRITECOPY;
    if (region.State != MEM_COMMIT || !writable || (region.Protect & PAGE_GUARD) != 0) return false;
    const auto* next = static_cast<const uint8_t*>(region.BaseAddress) + region.RegionSize;
    if (next <= address) return false;
    address = next;
  }
  return true;
}

}  // namespace

Win32ShareSection::~Win32ShareSection() {
  Release();
}

bool Win32ShareSection::OpenMapping() {
  if (mapping_ != nullptr) return true;
  // Reading and writing are all the driver needs, and all that a block created by another
  // account or an elevated program grants; FILE_MAP_ALL_ACCESS would also ask for the rights
  // to delete it and to change its permissions and be refused there. Not inheritable: the
  // cooperating program opens the section by name, and no program the host starts needs it.
  mapping_ = OpenFileMappingA(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, kShareSectionName);
  if (mapping_ == nullptr) return false;
  view_ = MapViewOfFile(mapping_, FILE_MAP_WRITE, 0, 0, kShareViewSize);
  if (view_ != nullptr && !ReadableAndWritable(view_, kShareViewSize)) {
    // Not a block the driver can use: as if there were none, and looked for again next time.
    Release();
    return false;
  }
  return true;
}

uint8_t* Win32ShareSection::MapView() {
  return static_cast<uint8_t*>(view_);
}

bool Win32ShareSection::MappingInheritable() const {
  DWORD flags = 0;
  return mapping_ != nullptr && GetHandleInformation(mapping_, &flags) &&
         (flags & HANDLE_FLAG_INHERIT) != 0;
}

void Win32ShareSection::Release() {
  if (view_ != nullptr) UnmapViewOfFile(view_);
  if (mapping_ != nullptr) CloseHandle(mapping_);
  view_ = nullptr;
  mapping_ = nullptr;
}

}  // namespace zol::win32
