/* The simulated HID interfaces the test-only hid.dll and setupapi.dll present, read from the
 * environment variable ZOL_HIDSIM_DEVICES:
 *
 *   entry;entry;...     in enumeration order
 *   wine                Wine's own present HID interfaces, as the system lists them
 *   path|vid|pid|version|input|output[|flags]
 *                       a device file, its attributes and report lengths in hexadecimal;
 *                       flags: a = the attributes cannot be read, c = the capabilities cannot
 *                       be read
 *
 * The path is one of
 *   \\?\NAME            an interface path as Windows names HID collections, e.g.
 *                       \\?\hid#vid_046d&pid_c52b&mi_01&col01#7&1a2b3c4d&0&0000#{4d1e55b2-...}
 *                       or, for Bluetooth, \\?\hid#{00001124-...}_vid&0002046d_pid&b342#...;
 *                       NAME is a DOS device linked to the pipe \\.\pipe\NAME (HidPipeServer
 *                       makes both)
 *   \\.\pipe\NAME       a pipe opened under its own name
 *   anything else       any path CreateFileA can open
 *
 * Like SetupDiGetClassDevs with DIGCF_PRESENT, the enumeration lists only devices that are
 * present: a \\?\NAME entry while the DOS device NAME exists, a \\.\pipe\NAME entry while a
 * pipe of that name exists, any other entry always. An unplugged device thus drops out of the
 * enumeration by itself, and one plugged in again as a new device instance (a new path) needs
 * its new entry.
 *
 * The variable is read again at every enumeration and at every HidD call, so a test may change
 * it at any time. */
#ifndef ZOL_HIDSIM_CONFIG_H
#define ZOL_HIDSIM_CONFIG_H

#include <windows.h>

#define HIDSIM_MAX_DEVICES 64
#define HIDSIM_MAX_PATH 512

/* GUID_DEVINTERFACE_HID, the class both fakes answer for. */
static const GUID kHidSimClassGuid = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

typedef struct {
  int wine; /* stands for Wine's own interfaces; nothing else is set */
  char path[HIDSIM_MAX_PATH];
  USHORT vendorId, productId, versionNumber;
  USHORT inputLength, outputLength;
  int failAttributes, failCaps;
} HidSimDevice;

/* Fills devices (at most max) and returns how many entries were read. */
int HidSimLoadConfig(HidSimDevice* devices, int max);

/* Whether the device file of an entry's path is present now (see above). */
int HidSimPresent(const char* path);

#endif
