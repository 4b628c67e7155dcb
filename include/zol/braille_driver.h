/*
 * zol braille display driver: the interface a screen-reader host uses.
 *
 * The host loads zol.dll, calls GetBrailleInterface and then the operations of the one driver
 * object through its table of virtual operations. The slot order below is the binary contract;
 * C++ hosts use the abstract classes, C hosts the ZolDriverVtbl / ZolHostVtbl structures (the
 * x64 calling convention is the same for both: the object pointer is the first argument).
 *
 * Threads: Open, Close and SetSuspended block until the driver's worker thread has done the
 * work, and meanwhile dispatch the calling thread's messages. OnKeyEvent is always called on the
 * thread that called Open (or the last SetSuspended(0)), from its message loop: that thread must
 * pump messages. OnDeviceData is called on the driver's worker thread. Calls from two threads at
 * once and calls from inside either callback are safe; docs/host-integration.md says what each
 * does there (no call ever waits for its own thread).
 */
#ifndef ZOL_BRAILLE_DRIVER_H
#define ZOL_BRAILLE_DRIVER_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Window message that carries a key event to the driver's hidden window (WM_USER + 1). */
#define ZOL_KEY_EVENT_MESSAGE 1025

/* Number of slots of the host-visible driver interface, and of the driver object's own table. */
#define ZOL_DRIVER_SLOTS 35
#define ZOL_DRIVER_OBJECT_SLOTS 37

/* The driver's identity as GetDriverIdentity reports it. */
#define ZOL_DRIVER_NAME "ZOL"
/* {7A1C4E90-2B3D-4F58-9E61-0C8D5A7B3F24} */
#define ZOL_DRIVER_GUID_INIT \
  { 0x7A1C4E90, 0x2B3D, 0x4F58, { 0x9E, 0x61, 0x0C, 0x8D, 0x5A, 0x7B, 0x3F, 0x24 } }

typedef struct ZolGuid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
} ZolGuid;

typedef struct ZolDriver ZolDriver;
typedef struct ZolHost ZolHost;

/* Host callbacks, in slot order. */
typedef struct ZolHostVtbl {
  /* Slot 0: a display key. name is valid only during the call; value is the routing cell for
   * "Routing"/"Routing2" events and 0 for every other event. */
  int32_t (*OnKeyEvent)(ZolHost* self, ZolDriver* driver, const char* name, int32_t value);
  /* Slot 1: a 3-byte record from the display's keyboard; called on the worker thread. */
  int32_t (*OnDeviceData)(ZolHost* self, ZolDriver* driver, const uint8_t* data, int32_t length);
} ZolHostVtbl;

struct ZolHost {
  const ZolHostVtbl* vtbl;
};

/* Driver operations, in slot order. */
typedef struct ZolDriverVtbl {
  int32_t (*Open)(ZolDriver* self, const char* portName, ZolHost* host, const char* text1,
                  const char* text2);                                         /* 0 */
  void (*Close)(ZolDriver* self);                                             /* 1 */
  ZolHost* (*SetHost)(ZolDriver* self, ZolHost* host);                        /* 2 */
  int32_t (*GetParameter1)(ZolDriver* self, char* buffer, int32_t length);    /* 3 */
  int32_t (*GetParameter2)(ZolDriver* self, char* buffer, int32_t length);    /* 4 */
  int32_t (*Reserved5)(ZolDriver* self, void* pointer, int32_t value);        /* 5 */
  int32_t (*GetInfoValue)(ZolDriver* self);                                   /* 6 */
  int32_t (*Reserved7)(ZolDriver* self);                                      /* 7 */
  int32_t (*Reserved8)(ZolDriver* self);                                      /* 8 */
  int32_t (*Reserved9)(ZolDriver* self);                                      /* 9 */
  int32_t (*Reserved10)(ZolDriver* self, void* pointer);                      /* 10 */
  int32_t (*WriteTextCells)(ZolDriver* self, const uint8_t* dots, int32_t count); /* 11 */
  int32_t (*WriteAllCells)(ZolDriver* self, const uint8_t* dots, int32_t count);  /* 12 */
  int32_t (*ClearDisplay)(ZolDriver* self);                                   /* 13 */
  int32_t (*Reserved14)(ZolDriver* self, void* pointer, int32_t value);       /* 14 */
  int32_t (*Reserved15)(ZolDriver* self);                                     /* 15 */
  int32_t (*SetSuspended)(ZolDriver* self, int32_t suspend);                  /* 16 */
  void (*Reserved17)(ZolDriver* self);                                        /* 17 */
  int32_t (*GetTextCellCount)(ZolDriver* self);                               /* 18 */
  int32_t (*Reserved19)(ZolDriver* self);                                     /* 19 */
  int32_t (*GetStatusCellCount)(ZolDriver* self);                             /* 20 */
  int32_t (*GetTotalCellCount)(ZolDriver* self);                              /* 21 */
  int32_t (*Reserved22)(ZolDriver* self);                                     /* 22 */
  int32_t (*Reserved23)(ZolDriver* self, int32_t a, int32_t b, int32_t c);    /* 23 */
  int32_t (*Reserved24)(ZolDriver* self);                                     /* 24 */
  int32_t (*Reserved25)(ZolDriver* self, int32_t a, uint8_t b);               /* 25 */
  int32_t (*Reserved26)(ZolDriver* self, void* pointer, int32_t a, int32_t b); /* 26 */
  int32_t (*Reserved27)(ZolDriver* self, void* pointer);                      /* 27 */
  int32_t (*Reserved28)(ZolDriver* self, int32_t value);                      /* 28 */
  int32_t (*Reserved29)(ZolDriver* self);                                     /* 29 */
  void (*Reserved30)(ZolDriver* self, int32_t value);                         /* 30 */
  int32_t (*Reserved31)(ZolDriver* self);                                     /* 31 */
  void (*Reserved32)(ZolDriver* self, int32_t value);                         /* 32 */
  int32_t (*Reserved33)(ZolDriver* self);                                     /* 33 */
  int32_t (*GetDriverIdentity)(ZolDriver* self, char* nameBuffer, int32_t nameLength,
                               ZolGuid* id);                                  /* 34 */
} ZolDriverVtbl;

struct ZolDriver {
  const ZolDriverVtbl* vtbl;
};

/* The one exported function: stores the driver object's address in *out and returns it. */
typedef ZolDriver* (*ZolGetBrailleInterfaceFn)(ZolDriver** out);
#define ZOL_ENTRY_POINT_NAME "GetBrailleInterface"

#ifdef __cplusplus
} /* extern "C" */

class IBrailleDriver;

/* The host's callback object. */
class IBrailleHost {
 public:
  virtual int32_t OnKeyEvent(IBrailleDriver* driver, const char* name, int32_t value) = 0;
  virtual int32_t OnDeviceData(IBrailleDriver* driver, const uint8_t* data, int32_t length) = 0;
};

/* The driver interface; slot order is binding. Slots named Reserved do nothing and return 0. */
class IBrailleDriver {
 public:
  virtual int32_t Open(const char* portName, IBrailleHost* host, const char* text1,
                       const char* text2) = 0;
  virtual void Close() = 0;
  virtual IBrailleHost* SetHost(IBrailleHost* host) = 0;
  virtual int32_t GetParameter1(char* buffer, int32_t length) = 0;
  virtual int32_t GetParameter2(char* buffer, int32_t length) = 0;
  virtual int32_t Reserved5(void* pointer, int32_t value) = 0;
  virtual int32_t GetInfoValue() = 0;
  virtual int32_t Reserved7() = 0;
  virtual int32_t Reserved8() = 0;
  virtual int32_t Reserved9() = 0;
  virtual int32_t Reserved10(void* pointer) = 0;
  virtual int32_t WriteTextCells(const uint8_t* dots, int32_t count) = 0;
  virtual int32_t WriteAllCells(const uint8_t* dots, int32_t count) = 0;
  virtual int32_t ClearDisplay() = 0;
  virtual int32_t Reserved14(void* pointer, int32_t value) = 0;
  virtual int32_t Reserved15() = 0;
  virtual int32_t SetSuspended(int32_t suspend) = 0;
  virtual void Reserved17() = 0;
  virtual int32_t GetTextCellCount() = 0;
  virtual int32_t Reserved19() = 0;
  virtual int32_t GetStatusCellCount() = 0;
  virtual int32_t GetTotalCellCount() = 0;
  virtual int32_t Reserved22() = 0;
  virtual int32_t Reserved23(int32_t a, int32_t b, int32_t c) = 0;
  virtual int32_t Reserved24() = 0;
  virtual int32_t Reserved25(int32_t a, uint8_t b) = 0;
  virtual int32_t Reserved26(void* pointer, int32_t a, int32_t b) = 0;
  virtual int32_t Reserved27(void* pointer) = 0;
  virtual int32_t Reserved28(int32_t value) = 0;
  virtual int32_t Reserved29() = 0;
  virtual void Reserved30(int32_t value) = 0;
  virtual int32_t Reserved31() = 0;
  virtual void Reserved32(int32_t value) = 0;
  virtual int32_t Reserved33() = 0;
  virtual int32_t GetDriverIdentity(char* nameBuffer, int32_t nameLength, ZolGuid* id) = 0;
};

#endif /* __cplusplus */

#endif /* ZOL_BRAILLE_DRIVER_H */
