#include "e2e_support.h"

#include <sddl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace zol::e2e {

std::string ZolDllPath() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, sizeof path);
  std::string folder(path);
  folder = folder.substr(0, folder.find_last_of("\\/"));
  // The serial tests run beside a copy of zol.dll (bin/serial-e2e); the HID tests (bin/hidsim)
  // load the one in bin.
  const std::string here = folder + "\\zol.dll";
  if (GetFileAttributesA(here.c_str()) != INVALID_FILE_ATTRIBUTES) return here;
  return folder.substr(0, folder.find_last_of("\\/")) + "\\zol.dll";
}

LoadedDriver::LoadedDriver() {
  // As a host should: by full path, its dependencies from its own folder or the system's.
  module = LoadLibraryExA(ZolDllPath().c_str(), nullptr,
                          LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module != nullptr) driver = CDriverGet(module, nullptr);
  host = CHostCreate();
}

LoadedDriver::~LoadedDriver() {
  if (driver != nullptr) CDriverClose(driver);
  if (module != nullptr) FreeLibrary(module);
  CHostDestroy(host);
}

HANDLE CreateReadWriteOnlySection(const char* name, DWORD size) {
  PSECURITY_DESCRIPTOR readWriteOnly = nullptr;
  // Everyone (WD): SECTION_MAP_WRITE | SECTION_MAP_READ.
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;;0x6;;;WD)", SDDL_REVISION_1,
                                                            &readWriteOnly, nullptr))
    return nullptr;
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, readWriteOnly, FALSE};
  HANDLE section =
      CreateFileMappingA(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0, size, name);
  const DWORD error = GetLastError();
  LocalFree(readWriteOnly);
  if (section != nullptr && error == ERROR_ALREADY_EXISTS) {
    CloseHandle(section);
    return nullptr;
  }
  return section;
}

int FindKey(CHost* host, const char* name, int from) {
  const int count = CHostKeyCount(host);
  for (int i = from; i < count; ++i)
    if (std::string(CHostKeyName(host, i)) == name) return i;
  return -1;
}

DriverTrace::DriverTrace() {
  char folder[MAX_PATH] = {};
  char file[MAX_PATH] = {};
  GetTempPathA(sizeof folder, folder);
  GetTempFileNameA(folder, "zol", 0, file);
  path_ = file;
  SetEnvironmentVariableA("ZOL_TRACE", path_.c_str());
}

DriverTrace::~DriverTrace() {
  SetEnvironmentVariableA("ZOL_TRACE", nullptr);
  DeleteFileA(path_.c_str());
}

std::string DriverTrace::Text() const {
  std::string text;
  HANDLE file = CreateFileA(path_.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return text;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read != 0)
    text.append(buffer, read);
  CloseHandle(file);
  return text;
}

std::string DriverTrace::TakeNew() {
  const std::string text = Text();
  const size_t from = taken_ < text.size() ? taken_ : text.size();
  taken_ = text.size();
  return text.substr(from);
}

}  // namespace zol::e2e
