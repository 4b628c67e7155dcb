// The functions of hid.dll and setupapi.dll that the HID bus calls, loaded at run time from the
// system directory only. hid.dll is not a KnownDLL: imported statically, it would be searched
// for in the host's folder first, where a portable screen reader's user (or anything the user
// runs) may have left a DLL of that name.
#pragma once

// setupapi.h needs the Windows types first; the HID headers of mingw-w64 declare C functions
// without C++ linkage of their own.
// clang-format off
#include <windows.h>
#include <setupapi.h>
extern "C" {
#include <hidsdi.h>
}
// clang-format on

namespace zol::win32 {

// Only function pointers, all set when the table is usable.
struct HidApi {
  // setupapi.dll
  decltype(&SetupDiGetClassDevsA) getClassDevs = nullptr;
  decltype(&SetupDiEnumDeviceInterfaces) enumDeviceInterfaces = nullptr;
  decltype(&SetupDiGetDeviceInterfaceDetailA) getDeviceInterfaceDetail = nullptr;
  decltype(&SetupDiDestroyDeviceInfoList) destroyDeviceInfoList = nullptr;
  // hid.dll
  decltype(&HidD_GetHidGuid) getHidGuid = nullptr;
  decltype(&HidD_GetAttributes) getAttributes = nullptr;
  decltype(&HidD_GetPreparsedData) getPreparsedData = nullptr;
  decltype(&HidD_FreePreparsedData) freePreparsedData = nullptr;
  decltype(&HidP_GetCaps) getCaps = nullptr;
  decltype(&HidD_SetNumInputBuffers) setNumInputBuffers = nullptr;
};

// Finds a function of a loaded module by name: GetProcAddress.
using ExportLookup = FARPROC(WINAPI*)(HMODULE module, LPCSTR name);

// Fills *api from the two modules. False, *api unchanged, when a module is null or lacks any of
// the functions.
bool ResolveHidApi(HMODULE hid, HMODULE setupapi, HidApi* api,
                   ExportLookup lookup = GetProcAddress);

// The table over the system directory's hid.dll and setupapi.dll, or null when either DLL or any
// function is missing: HID is then unavailable. The first call loads both DLLs (the worker
// thread, never DllMain); later calls give the same answer. The DLLs stay loaded for the
// process's life: zol.dll could only free them while it is unloaded, inside DllMain, where
// FreeLibrary must not be called.
const HidApi* SystemHidApi();

}  // namespace zol::win32
