// The module's entry point and its one export. Compiled into every DLL that carries the driver
// object (zol.dll and the test build), so that each has its own.
#include <windows.h>

#include "driver/braille_sample_driver.h"

// Stores the address of the driver object in *out and returns it; the same object every time.
extern "C" __declspec(dllexport) IBrailleDriver* GetBrailleInterface(IBrailleDriver** out) {
  IBrailleDriver* driver = &zol::TheDriver();
  *out = driver;
  return driver;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) zol::TheDriver().SetModuleInstance(instance);
  return TRUE;
}
