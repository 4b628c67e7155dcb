// The module's entry point and its one export. Compiled into every DLL that carries the driver
// object (zol.dll and the test build), so that each has its own.
#include <windows.h>

#include "driver/braille_sample_driver.h"

// Stores the address of the driver object in *out (when out is not null) and returns it; the
// same object every time.
extern "C" __declspec(dllexport) IBrailleDriver* GetBrailleInterface(IBrailleDriver** out) {
  IBrailleDriver* driver = &zol::TheDriver();
  if (out) *out = driver;
  return driver;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) zol::TheDriver().SetModuleInstance(instance);
  // Unloaded by FreeLibrary (not by the process ending): a window class of a DLL outlives the
  // DLL unless it is unregistered, and a later load at another address would meet a class
  // whose window procedure points into freed code.
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
    zol::TheDriver().UnregisterWindowClass();
  }
  return TRUE;
}
