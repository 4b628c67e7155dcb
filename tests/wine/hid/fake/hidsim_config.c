#include "hidsim_config.h"

#include <stdlib.h>
#include <string.h>

/* Copies the next field of *cursor up to separator (or the end of the entry) into out. */
static void NextField(char** cursor, char separator, char* out, size_t size) {
  char* start = *cursor;
  char* end = strchr(start, separator);
  size_t length = end != NULL ? (size_t)(end - start) : strlen(start);
  if (size > 0) {
    size_t copied = length < size - 1 ? length : size - 1;
    memcpy(out, start, copied);
    out[copied] = '\0';
  }
  *cursor = end != NULL ? end + 1 : start + length;
}

static USHORT HexField(char** cursor) {
  char field[16];
  NextField(cursor, '|', field, sizeof field);
  return (USHORT)strtoul(field, NULL, 16);
}

static int ParseEntry(char* entry, HidSimDevice* device) {
  char flags[16];
  memset(device, 0, sizeof *device);
  if (strcmp(entry, "wine") == 0) {
    device->wine = 1;
    return 1;
  }
  NextField(&entry, '|', device->path, sizeof device->path);
  if (device->path[0] == '\0') return 0;
  device->vendorId = HexField(&entry);
  device->productId = HexField(&entry);
  device->versionNumber = HexField(&entry);
  device->inputLength = HexField(&entry);
  device->outputLength = HexField(&entry);
  NextField(&entry, '|', flags, sizeof flags);
  device->failAttributes = strchr(flags, 'a') != NULL;
  device->failCaps = strchr(flags, 'c') != NULL;
  return 1;
}

int HidSimLoadConfig(HidSimDevice* devices, int max) {
  /* On the heap: the callers run on the driver's threads, whose stacks are not ours to size. */
  const DWORD size = 65536;
  char* text = (char*)HeapAlloc(GetProcessHeap(), 0, size);
  char* cursor = text;
  int count = 0;
  DWORD length;
  if (text == NULL) return 0;
  length = GetEnvironmentVariableA("ZOL_HIDSIM_DEVICES", text, size);
  if (length == 0 || length >= size) text[0] = '\0';
  while (*cursor != '\0' && count < max) {
    char entry[HIDSIM_MAX_PATH + 128];
    NextField(&cursor, ';', entry, sizeof entry);
    if (ParseEntry(entry, &devices[count])) ++count;
  }
  HeapFree(GetProcessHeap(), 0, text);
  return count;
}

int HidSimPresent(const char* path) {
  if (strncmp(path, "\\\\?\\", 4) == 0) {
    /* A target longer than this buffer still proves that the name exists. */
    char target[8];
    return QueryDosDeviceA(path + 4, target, sizeof target) != 0 ||
           GetLastError() == ERROR_INSUFFICIENT_BUFFER;
  }
  if (_strnicmp(path, "\\\\.\\pipe\\", 9) == 0) {
    /* Busy instances (ERROR_SEM_TIMEOUT) are present too; this never connects one. */
    return WaitNamedPipeA(path, 1) || GetLastError() != ERROR_FILE_NOT_FOUND;
  }
  return 1;
}
