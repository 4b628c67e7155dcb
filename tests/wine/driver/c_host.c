#include "c_host.h"

#include <stdlib.h>
#include <string.h>

#define MAX_CALLS 256
#define NAME_SIZE 160

typedef int32_t (*KeyEventFn)(CHost*, void*, const char*, int32_t);
typedef int32_t (*DeviceDataFn)(CHost*, void*, const uint8_t*, int32_t);

typedef struct HostTable {
  KeyEventFn onKeyEvent;
  DeviceDataFn onDeviceData;
} HostTable;

typedef struct KeyCall {
  char name[NAME_SIZE];
  int32_t value;
  DWORD thread;
  void* driver;
} KeyCall;

typedef struct DataCall {
  uint8_t bytes[3];
  int32_t length;
  DWORD thread;
} DataCall;

struct CHost {
  const HostTable* table; /* must come first: the driver calls through it */
  CRITICAL_SECTION lock;
  KeyCall keys[MAX_CALLS];
  int keyCount;
  DataCall data[MAX_CALLS];
  int dataCount;
  CHostHook hook;
  void* hookContext;
};

static void CallHook(CHost* host, void* driver, const char* name) {
  CHostHook hook;
  void* context;
  EnterCriticalSection(&host->lock);
  hook = host->hook;
  context = host->hookContext;
  LeaveCriticalSection(&host->lock);
  if (hook != NULL) hook(context, driver, name);
}

void CHostSetHook(CHost* host, CHostHook hook, void* context) {
  EnterCriticalSection(&host->lock);
  host->hook = hook;
  host->hookContext = context;
  LeaveCriticalSection(&host->lock);
}

static int32_t OnKeyEvent(CHost* host, void* driver, const char* name, int32_t value) {
  EnterCriticalSection(&host->lock);
  if (host->keyCount < MAX_CALLS) {
    KeyCall* call = &host->keys[host->keyCount++];
    strncpy(call->name, name, NAME_SIZE - 1);
    call->value = value;
    call->thread = GetCurrentThreadId();
    call->driver = driver;
  }
  LeaveCriticalSection(&host->lock);
  CallHook(host, driver, name);
  return 0;
}

static int32_t OnDeviceData(CHost* host, void* driver, const uint8_t* bytes, int32_t length) {
  EnterCriticalSection(&host->lock);
  if (host->dataCount < MAX_CALLS) {
    DataCall* call = &host->data[host->dataCount++];
    memcpy(call->bytes, bytes, 3);
    call->length = length;
    call->thread = GetCurrentThreadId();
  }
  LeaveCriticalSection(&host->lock);
  CallHook(host, driver, NULL);
  return 0;
}

static const HostTable hostTable = {OnKeyEvent, OnDeviceData};

CHost* CHostCreate(void) {
  CHost* host = (CHost*)calloc(1, sizeof(CHost));
  host->table = &hostTable;
  InitializeCriticalSection(&host->lock);
  return host;
}

void CHostDestroy(CHost* host) {
  DeleteCriticalSection(&host->lock);
  free(host);
}

#define LOCKED_READ(host, expression)    \
  do {                                   \
    EnterCriticalSection(&(host)->lock); \
    result = (expression);               \
    LeaveCriticalSection(&(host)->lock); \
  } while (0)

int CHostKeyCount(CHost* host) {
  int result;
  LOCKED_READ(host, host->keyCount);
  return result;
}
const char* CHostKeyName(CHost* host, int index) {
  return host->keys[index].name;
}
int32_t CHostKeyValue(CHost* host, int index) {
  return host->keys[index].value;
}
DWORD CHostKeyThread(CHost* host, int index) {
  return host->keys[index].thread;
}
void* CHostKeyDriver(CHost* host, int index) {
  return host->keys[index].driver;
}
int CHostDataCount(CHost* host) {
  int result;
  LOCKED_READ(host, host->dataCount);
  return result;
}
DWORD CHostDataThread(CHost* host, int index) {
  return host->data[index].thread;
}
int32_t CHostDataLength(CHost* host, int index) {
  return host->data[index].length;
}
const uint8_t* CHostDataBytes(CHost* host, int index) {
  return host->data[index].bytes;
}

void* CDriverGet(HMODULE module, void** stored) {
  typedef void* (*GetFn)(void**);
  GetFn get = (GetFn)(void*)GetProcAddress(module, "GetBrailleInterface");
  return get ? get(stored) : NULL;
}

/* The entry of slot index in the driver object's table of operations. */
static void* Slot(void* driver, int index) {
  return (*(void***)driver)[index];
}

int32_t CDriverOpen(void* driver, const char* port, CHost* host, const char* text1,
                    const char* text2) {
  typedef int32_t (*Fn)(void*, const char*, CHost*, const char*, const char*);
  return ((Fn)Slot(driver, 0))(driver, port, host, text1, text2);
}

void CDriverClose(void* driver) {
  typedef void (*Fn)(void*);
  ((Fn)Slot(driver, 1))(driver);
}

CHost* CDriverSetHost(void* driver, CHost* host) {
  typedef CHost* (*Fn)(void*, CHost*);
  return ((Fn)Slot(driver, 2))(driver, host);
}

typedef int32_t (*BufferFn)(void*, char*, int32_t);
int32_t CDriverGetParameter1(void* driver, char* buffer, int32_t length) {
  return ((BufferFn)Slot(driver, 3))(driver, buffer, length);
}
int32_t CDriverGetParameter2(void* driver, char* buffer, int32_t length) {
  return ((BufferFn)Slot(driver, 4))(driver, buffer, length);
}

typedef int32_t (*NoArgFn)(void*);
int32_t CDriverGetInfoValue(void* driver) {
  return ((NoArgFn)Slot(driver, 6))(driver);
}

typedef int32_t (*DotsFn)(void*, const uint8_t*, int32_t);
int32_t CDriverWriteTextCells(void* driver, const uint8_t* dots, int32_t count) {
  return ((DotsFn)Slot(driver, 11))(driver, dots, count);
}
int32_t CDriverWriteAllCells(void* driver, const uint8_t* dots, int32_t count) {
  return ((DotsFn)Slot(driver, 12))(driver, dots, count);
}
int32_t CDriverClearDisplay(void* driver) {
  return ((NoArgFn)Slot(driver, 13))(driver);
}

int32_t CDriverSetSuspended(void* driver, int32_t suspend) {
  typedef int32_t (*Fn)(void*, int32_t);
  return ((Fn)Slot(driver, 16))(driver, suspend);
}

int32_t CDriverGetTextCellCount(void* driver) {
  return ((NoArgFn)Slot(driver, 18))(driver);
}
int32_t CDriverGetStatusCellCount(void* driver) {
  return ((NoArgFn)Slot(driver, 20))(driver);
}
int32_t CDriverGetTotalCellCount(void* driver) {
  return ((NoArgFn)Slot(driver, 21))(driver);
}

int32_t CDriverGetDriverIdentity(void* driver, char* name, int32_t nameLength, uint8_t* guid16) {
  typedef int32_t (*Fn)(void*, char*, int32_t, uint8_t*);
  return ((Fn)Slot(driver, 34))(driver, name, nameLength, guid16);
}

int CDriverCallReservedSlots(void* driver) {
  typedef int32_t (*PtrIntFn)(void*, void*, int32_t);
  typedef int32_t (*PtrFn)(void*, void*);
  typedef int32_t (*IntFn)(void*, int32_t);
  typedef int32_t (*ThreeIntFn)(void*, int32_t, int32_t, int32_t);
  typedef int32_t (*IntByteFn)(void*, int32_t, uint8_t);
  typedef int32_t (*PtrTwoIntFn)(void*, void*, int32_t, int32_t);
  typedef void (*VoidFn)(void*);
  typedef void (*VoidIntFn)(void*, int32_t);
  static const int noArgSlots[] = {7, 8, 9, 15, 19, 22, 24, 29, 31, 33};
  char scratch[16] = {0};
  int nonZero = 0;
  size_t i;
  for (i = 0; i < sizeof noArgSlots / sizeof noArgSlots[0]; ++i) {
    nonZero += ((NoArgFn)Slot(driver, noArgSlots[i]))(driver) != 0;
  }
  nonZero += ((PtrIntFn)Slot(driver, 5))(driver, scratch, 16) != 0;
  nonZero += ((PtrFn)Slot(driver, 10))(driver, scratch) != 0;
  nonZero += ((PtrIntFn)Slot(driver, 14))(driver, scratch, 16) != 0;
  nonZero += ((ThreeIntFn)Slot(driver, 23))(driver, 1, 2, 3) != 0;
  nonZero += ((IntByteFn)Slot(driver, 25))(driver, 1, 0xFF) != 0;
  nonZero += ((PtrTwoIntFn)Slot(driver, 26))(driver, scratch, 1, 2) != 0;
  nonZero += ((PtrFn)Slot(driver, 27))(driver, scratch) != 0;
  nonZero += ((IntFn)Slot(driver, 28))(driver, 5) != 0;
  ((VoidFn)Slot(driver, 17))(driver);
  ((VoidIntFn)Slot(driver, 30))(driver, 1);
  ((VoidIntFn)Slot(driver, 32))(driver, 1);
  ((VoidIntFn)Slot(driver, 35))(driver, 1);
  ((VoidIntFn)Slot(driver, 36))(driver, 1);
  return nonZero;
}
