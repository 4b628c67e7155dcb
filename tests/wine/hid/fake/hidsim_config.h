/* The simulated HID interfaces the test-only hid.dll and setupapi.dll present, read from the
 * environment variable ZOL_HIDSIM_DEVICES:
 *
 *   entry;entry;...     in enumeration order
 *   wine                Wine's own present HID interfaces, as the system lists them
 *   path|vid|pid|version|input|output[|flags]
 *                       a device file (any path CreateFileA can open, e.g. \\.\pipe\name),
 *                       its attributes and report lengths in hexadecimal; flags: a = the
 *                       attributes cannot be read, c = the capabilities cannot be read
 *
 * The variable is read again at every enumeration, so a test may change it between searches. */
#ifndef ZOL_HIDSIM_CONFIG_H
#define ZOL_HIDSIM_CONFIG_H

#include <windows.h>

#define HIDSIM_MAX_DEVICES 32
#define HIDSIM_MAX_PATH 512

typedef struct {
  int wine; /* stands for Wine's own interfaces; nothing else is set */
  char path[HIDSIM_MAX_PATH];
  USHORT vendorId, productId, versionNumber;
  USHORT inputLength, outputLength;
  int failAttributes, failCaps;
} HidSimDevice;

/* Fills devices (at most max) and returns how many entries were read. */
int HidSimLoadConfig(HidSimDevice* devices, int max);

#endif
