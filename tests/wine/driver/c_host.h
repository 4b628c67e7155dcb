/* A screen-reader host written in plain C. It reaches the driver only through the raw slot
 * indices of the driver object's table of operations, never through the project's header, so
 * that the slot order is checked independently of it. */
#ifndef ZOL_TEST_C_HOST_H
#define ZOL_TEST_C_HOST_H

#include <stdint.h>
#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct CHost CHost;

/* The host's callback object (table: slot 0 OnKeyEvent, slot 1 OnDeviceData); it records every
 * call with the calling thread. */
CHost* CHostCreate(void);
void CHostDestroy(CHost* host);
int CHostKeyCount(CHost* host);
const char* CHostKeyName(CHost* host, int index);
int32_t CHostKeyValue(CHost* host, int index);
DWORD CHostKeyThread(CHost* host, int index);
void* CHostKeyDriver(CHost* host, int index);
int CHostDataCount(CHost* host);
DWORD CHostDataThread(CHost* host, int index);
int32_t CHostDataLength(CHost* host, int index);
const uint8_t* CHostDataBytes(CHost* host, int index); /* the first 3 bytes */
/* Called after each callback has been recorded, on the calling thread and outside the host's
 * lock, so that a test can make the host call back into the driver from inside its callbacks:
 * name is the key's name for OnKeyEvent and null for OnDeviceData. Null removes it. */
typedef void (*CHostHook)(void* context, void* driver, const char* name);
void CHostSetHook(CHost* host, CHostHook hook, void* context);

/* GetBrailleInterface of module, found by name; *stored receives what it stored. */
void* CDriverGet(HMODULE module, void** stored);

/* The driver's operations, each through its slot index. */
int32_t CDriverOpen(void* driver, const char* port, CHost* host, const char* text1,
                    const char* text2);                                          /* 0 */
void CDriverClose(void* driver);                                                 /* 1 */
CHost* CDriverSetHost(void* driver, CHost* host);                                /* 2 */
int32_t CDriverGetParameter1(void* driver, char* buffer, int32_t length);        /* 3 */
int32_t CDriverGetParameter2(void* driver, char* buffer, int32_t length);        /* 4 */
int32_t CDriverGetInfoValue(void* driver);                                       /* 6 */
int32_t CDriverWriteTextCells(void* driver, const uint8_t* dots, int32_t count); /* 11 */
int32_t CDriverWriteAllCells(void* driver, const uint8_t* dots, int32_t count);  /* 12 */
int32_t CDriverClearDisplay(void* driver);                                       /* 13 */
int32_t CDriverSetSuspended(void* driver, int32_t suspend);                      /* 16 */
int32_t CDriverGetTextCellCount(void* driver);                                   /* 18 */
int32_t CDriverGetStatusCellCount(void* driver);                                 /* 20 */
int32_t CDriverGetTotalCellCount(void* driver);                                  /* 21 */
int32_t CDriverGetDriverIdentity(void* driver, char* name, int32_t nameLength,
                                 uint8_t* guid16); /* 34 */
/* Calls every reserved slot (5, 7-10, 14, 15, 17, 19, 22-33, 35, 36) with plausible arguments;
 * returns how many of those that return a value returned non-zero. */
int CDriverCallReservedSlots(void* driver);

#ifdef __cplusplus
}
#endif

#endif
