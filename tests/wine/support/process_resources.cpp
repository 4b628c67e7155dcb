#include "process_resources.h"

#include <tlhelp32.h>
#include <winternl.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace zol::testing {

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

}  // namespace zol::testing
