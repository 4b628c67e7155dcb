#include "e2e_support.h"

#include <sddl.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "sim_control_fifo.h"

namespace zol::e2e {

void PumpFor(DWORD ms) {
  PumpUntil([] { return false; }, ms);
}

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

uint8_t DevicePattern(uint8_t host) {
  static constexpr uint8_t kDeviceBit[8] = {0x08, 0x04, 0x02, 0x80, 0x40, 0x20, 0x01, 0x10};
  uint8_t device = 0;
  for (int bit = 0; bit < 8; ++bit)
    if (host & (1u << bit)) device |= kDeviceBit[bit];
  return device;
}

uint8_t HostPattern(uint8_t device) {
  for (int host = 0; host < 256; ++host)
    if (DevicePattern(static_cast<uint8_t>(host)) == device) return static_cast<uint8_t>(host);
  return 0;
}

namespace {

// Handles of this process as the system lists them (GetProcessHandleCount reports 0 on Wine).
DWORD CountHandles() {
  struct Entry {
    ULONG ownerPid;
    UCHAR objectType;
    UCHAR flags;
    USHORT handle;
    PVOID object;
    ACCESS_MASK access;
  };
  struct Table {
    ULONG count;
    Entry entries[1];
  };
  constexpr auto kSystemHandleInformation = static_cast<SYSTEM_INFORMATION_CLASS>(16);
  using Query = NTSTATUS(WINAPI*)(SYSTEM_INFORMATION_CLASS, PVOID, ULONG, PULONG);
  const auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
  if (query == nullptr) return 0;
  std::vector<uint8_t> buffer(1 << 20);
  for (int attempt = 0; attempt < 6; ++attempt) {
    ULONG needed = 0;
    const NTSTATUS status =
        query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
    if (status >= 0) {
      const auto* table = reinterpret_cast<const Table*>(buffer.data());
      DWORD mine = 0;
      for (ULONG i = 0; i < table->count; ++i)
        if (table->entries[i].ownerPid == GetCurrentProcessId()) {
          ++mine;
          if (std::getenv("ZOL_E2E_HANDLES") != nullptr) {
            using QueryObject = LONG(WINAPI*)(HANDLE, int, PVOID, ULONG, PULONG);
            const auto queryObject = reinterpret_cast<QueryObject>(reinterpret_cast<void*>(
                GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryObject")));
            alignas(8) uint8_t info[1024] = {};
            const HANDLE h =
                reinterpret_cast<HANDLE>(static_cast<uintptr_t>(table->entries[i].handle));
            char type[128] = "?", name[256] = "";
            if (queryObject(h, 2, info, sizeof info, nullptr) >= 0) {
              const auto* u = reinterpret_cast<const UNICODE_STRING*>(info);
              WideCharToMultiByte(CP_UTF8, 0, u->Buffer, u->Length / 2, type, sizeof type - 1,
                                  nullptr, nullptr);
            }
            std::memset(info, 0, sizeof info);
            if (queryObject(h, 1, info, sizeof info, nullptr) >= 0) {
              const auto* u = reinterpret_cast<const UNICODE_STRING*>(info);
              if (u->Buffer)
                WideCharToMultiByte(CP_UTF8, 0, u->Buffer, u->Length / 2, name, sizeof name - 1,
                                    nullptr, nullptr);
            }
            std::printf("[ handle ] %04x %s %s\n", table->entries[i].handle, type, name);
          }
        }
      return mine;
    }
    buffer.resize(buffer.size() * 2 > needed ? buffer.size() * 2 : needed + 4096);
  }
  return 0;
}

// Committed private memory of this process (the counters of GetProcessMemoryInfo stay 0 on
// Wine).
size_t CommittedPrivateBytes() {
  size_t total = 0;
  MEMORY_BASIC_INFORMATION info;
  for (const char* address = nullptr; VirtualQuery(address, &info, sizeof info) == sizeof info;
       address = static_cast<const char*>(info.BaseAddress) + info.RegionSize) {
    if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE) total += info.RegionSize;
    if (info.RegionSize == 0) break;
  }
  return total;
}

}  // namespace

Resources MeasureResources() {
  Resources r;
  r.handles = CountHandles();
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot != INVALID_HANDLE_VALUE) {
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
      if (entry.th32OwnerProcessID == GetCurrentProcessId()) {
        ++r.threads;
        if (std::getenv("ZOL_E2E_THREADS") != nullptr) {
          using Query = LONG(WINAPI*)(HANDLE, int, PVOID, ULONG, PULONG);
          const auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(
              GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationThread")));
          HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID);
          void* start = nullptr;
          if (thread != nullptr && query != nullptr)
            query(thread, 9, &start, sizeof start, nullptr);
          HMODULE owner = nullptr;
          GetModuleHandleExA(
              GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
              static_cast<LPCSTR>(start), &owner);
          char name[MAX_PATH] = "?";
          if (owner != nullptr) GetModuleFileNameA(owner, name, sizeof name);
          std::printf("[ thread ] %lu starts at %p in %s\n", entry.th32ThreadID, start, name);
          if (thread != nullptr) CloseHandle(thread);
        }
      }
    CloseHandle(snapshot);
  }
  r.privateBytes = CommittedPrivateBytes();
  return r;
}

std::string Describe(const Resources& r) {
  char text[128];
  std::snprintf(text, sizeof text, "%lu handles, %lu threads, %zu KiB private",
                static_cast<unsigned long>(r.handles), static_cast<unsigned long>(r.threads),
                r.privateBytes / 1024);
  return text;
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

SimControl::SimControl() {
  const char* dir = std::getenv("ZOL_E2E_CONTROL");
  const char* com = std::getenv("ZOL_E2E_COM");
  if (dir == nullptr || com == nullptr) return;
  dir_ = dir;
  com_ = com;
  fifo_ = simctl::OpenControlFifo(dir_);
}

SimControl::~SimControl() {
  if (fifo_ != INVALID_HANDLE_VALUE) CloseHandle(fifo_);
}

void SimControl::Send(const std::string& command) {
  simctl::WriteControlLine(fifo_, command);
}

std::vector<std::string> SimControl::Lines() {
  std::vector<std::string> lines;
  HANDLE file = CreateFileA((dir_ + "\\log").c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return lines;
  std::string text;
  char chunk[65536];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) text.append(chunk, got);
  CloseHandle(file);
  // Only complete lines: the display may be writing the last one.
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

std::vector<std::string> SimControl::LinesSince(size_t mark, const std::string& prefix) {
  const std::vector<std::string> all = Lines();
  std::vector<std::string> found;
  for (size_t i = mark; i < all.size(); ++i)
    if (all[i].compare(0, prefix.size(), prefix) == 0) found.push_back(all[i]);
  return found;
}

bool SimControl::WaitFor(size_t mark, const std::string& prefix, size_t count, DWORD limitMs) {
  return PumpUntil([&] { return LinesSince(mark, prefix).size() >= count; }, limitMs);
}

std::vector<uint8_t> HexBytesAfter(const std::string& line, const std::string& prefix) {
  std::vector<uint8_t> bytes;
  if (line.compare(0, prefix.size(), prefix) != 0) return bytes;
  std::istringstream in(line.substr(prefix.size()));
  for (std::string word; in >> word;)
    bytes.push_back(static_cast<uint8_t>(std::strtoul(word.c_str(), nullptr, 16)));
  return bytes;
}

std::vector<uint8_t> SimControl::LastFrame() {
  const size_t mark = Mark();
  Send("cells?");
  if (!WaitFor(mark, "cells ")) return {};
  return HexBytesAfter(LinesSince(mark, "cells ").front(), "cells");
}

int SimControl::Count(const std::string& type) {
  const size_t mark = Mark();
  Send("count? " + type);
  const std::string prefix = "count " + type + " ";
  if (!WaitFor(mark, prefix)) return -1;
  return std::atoi(LinesSince(mark, prefix).front().c_str() + prefix.size());
}

void SimControl::Quit() {
  const size_t mark = Mark();
  Send("quit");
  WaitFor(mark, "sim-exit");
}

bool SimControl::Restart() {
  const size_t mark = Mark();
  HANDLE file =
      CreateFileA((dir_ + "\\restart").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return WaitFor(mark, "ready");
}

}  // namespace zol::e2e
