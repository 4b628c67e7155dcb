#include "platform/win32/win32_hid_api.h"

#include <cwchar>

namespace zol::win32 {

namespace {

template <typename Function>
bool Find(ExportLookup lookup, HMODULE module, const char* name, Function* function) {
  // Through void*, as GetProcAddress's function type converts to no other without a warning.
  *function = reinterpret_cast<Function>(reinterpret_cast<void*>(lookup(module, name)));
  return *function != nullptr;
}

// The system directory's copy by its full path: a bare name would also match a module of that
// name that the host has already loaded from anywhere else. The flag keeps the DLL's own
// dependencies to the system directory as well.
HMODULE LoadFromSystemDirectory(const wchar_t* name) {
  wchar_t path[MAX_PATH];
  const UINT length = GetSystemDirectoryW(path, MAX_PATH);
  const size_t nameLength = std::wcslen(name);
  if (length == 0 || length + 1 + nameLength >= MAX_PATH) return nullptr;
  path[length] = L'\\';
  std::wmemcpy(path + length + 1, name, nameLength + 1);
  return LoadLibraryExW(path, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

struct LoadedHidApi {
  LoadedHidApi() {
    HMODULE hid = LoadFromSystemDirectory(L"hid.dll");
    HMODULE setupapi = LoadFromSystemDirectory(L"setupapi.dll");
    available = ResolveHidApi(hid, setupapi, &api);
    if (available) return;
    if (hid != nullptr) FreeLibrary(hid);
    if (setupapi != nullptr) FreeLibrary(setupapi);
  }
  HidApi api;
  bool available = false;
};

}  // namespace

bool ResolveHidApi(HMODULE hid, HMODULE setupapi, HidApi* api, ExportLookup lookup) {
  if (hid == nullptr || setupapi == nullptr) return false;
  HidApi found;
  const bool complete =
      Find(lookup, setupapi, "SetupDiGetClassDevsA", &found.getClassDevs) &&
      Find(lookup, setupapi, "SetupDiEnumDeviceInterfaces", &found.enumDeviceInterfaces) &&
      Find(lookup, setupapi, "SetupDiGetDeviceInterfaceDetailA", &found.getDeviceInterfaceDetail) &&
      Find(lookup, setupapi, "SetupDiDestroyDeviceInfoList", &found.destroyDeviceInfoList) &&
      Find(lookup, hid, "HidD_GetHidGuid", &found.getHidGuid) &&
      Find(lookup, hid, "HidD_GetAttributes", &found.getAttributes) &&
      Find(lookup, hid, "HidD_GetPreparsedData", &found.getPreparsedData) &&
      Find(lookup, hid, "HidD_FreePreparsedData", &found.freePreparsedData) &&
      Find(lookup, hid, "HidP_GetCaps", &found.getCaps) &&
      Find(lookup, hid, "HidD_SetNumInputBuffers", &found.setNumInputBuffers);
  if (complete) *api = found;
  return complete;
}

const HidApi* SystemHidApi() {
  // Built once, on the first call; no destructor runs at unload.
  static const LoadedHidApi loaded;
  return loaded.available ? &loaded.api : nullptr;
}

}  // namespace zol::win32
