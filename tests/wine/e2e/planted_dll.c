/* A DLL left beside a program under the name of a system DLL (PLANTED_NAME: hid, setupapi). It
 * exports nothing; loading it creates the event Local\zol-planted-NAME-PID, which outlives the
 * DLL, so a test can tell that it was loaded. */
#include <stdio.h>
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) {
    char name[64];
    snprintf(name, sizeof name, "Local\\zol-planted-%s-%lu", PLANTED_NAME,
             (unsigned long)GetCurrentProcessId());
    /* Left open on purpose: the event must remain after the DLL has gone. */
    CreateEventA(NULL, TRUE, TRUE, name);
  }
  return TRUE;
}
