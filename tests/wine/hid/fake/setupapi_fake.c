/* Test-only setupapi.dll: lists the present HID interfaces of the simulation configuration (see
 * hidsim_config.h), Wine's own present HID interfaces where the configuration says so. Only
 * the functions the driver imports exist. */
/* The functions are defined here, not imported; setupapi.h needs the Windows types first. */
#define _SETUPAPI_
/* clang-format off */
#include <windows.h>
#include <setupapi.h>
/* clang-format on */
#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include "hidsim_config.h"

#define LIST_MAGIC 0x54534C48u /* "HLST" */
#define MAX_INTERFACES 128

typedef struct {
  DWORD magic;
  int count;
  char paths[MAX_INTERFACES][HIDSIM_MAX_PATH];
} InterfaceList;

static void AddPath(InterfaceList* list, const char* path) {
  if (list->count >= MAX_INTERFACES || strlen(path) >= HIDSIM_MAX_PATH) return;
  strcpy(list->paths[list->count++], path);
}

/* Wine keeps every HID interface it has seen under DeviceClasses; the present ones are those
 * whose volatile Control key says Linked = 1. */
static void AddWineInterfaces(InterfaceList* list) {
  static const char kClassKey[] =
      "SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\"
      "{4D1E55B2-F16F-11CF-88CB-001111000030}";
  HKEY classKey;
  DWORD index;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kClassKey, 0, KEY_READ, &classKey) != ERROR_SUCCESS) return;
  for (index = 0;; ++index) {
    char name[512], sub[600], link[HIDSIM_MAX_PATH];
    DWORD nameSize = sizeof name, linkSize = sizeof link, linked = 0, linkedSize = sizeof linked;
    if (RegEnumKeyExA(classKey, index, name, &nameSize, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
      break;
    snprintf(sub, sizeof sub, "%s\\#\\Control", name);
    if (RegGetValueA(classKey, sub, "Linked", RRF_RT_REG_DWORD, NULL, &linked, &linkedSize) !=
            ERROR_SUCCESS ||
        linked != 1)
      continue;
    snprintf(sub, sizeof sub, "%s\\#", name);
    if (RegGetValueA(classKey, sub, "SymbolicLink", RRF_RT_REG_SZ, NULL, link, &linkSize) ==
        ERROR_SUCCESS)
      AddPath(list, link);
  }
  RegCloseKey(classKey);
}

static InterfaceList* ListOf(HDEVINFO info) {
  InterfaceList* list = (InterfaceList*)info;
  if (info == NULL || info == INVALID_HANDLE_VALUE || list->magic != LIST_MAGIC) return NULL;
  return list;
}

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND parent,
                                     DWORD flags) {
  HidSimDevice* devices;
  int count, i;
  InterfaceList* list =
      (InterfaceList*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(InterfaceList));
  (void)enumerator;
  (void)parent;
  if (list == NULL) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  list->magic = LIST_MAGIC;
  if (classGuid == NULL || !IsEqualGUID(classGuid, &kHidSimClassGuid) ||
      !(flags & DIGCF_DEVICEINTERFACE))
    return (HDEVINFO)list;
  devices = (HidSimDevice*)HeapAlloc(GetProcessHeap(), 0, HIDSIM_MAX_DEVICES * sizeof *devices);
  if (devices == NULL) return (HDEVINFO)list;
  count = HidSimLoadConfig(devices, HIDSIM_MAX_DEVICES);
  for (i = 0; i < count; ++i) {
    if (devices[i].wine)
      AddWineInterfaces(list);
    else if (!(flags & DIGCF_PRESENT) || HidSimPresent(devices[i].path))
      AddPath(list, devices[i].path);
  }
  HeapFree(GetProcessHeap(), 0, devices);
  return (HDEVINFO)list;
}

BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO info, PSP_DEVINFO_DATA deviceData,
                                        const GUID* classGuid, DWORD index,
                                        PSP_DEVICE_INTERFACE_DATA interfaceData) {
  InterfaceList* list = ListOf(info);
  (void)deviceData;
  if (list == NULL) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (interfaceData == NULL || interfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  if (classGuid == NULL || !IsEqualGUID(classGuid, &kHidSimClassGuid) ||
      index >= (DWORD)list->count) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
  }
  interfaceData->InterfaceClassGuid = kHidSimClassGuid;
  interfaceData->Flags = SPINT_ACTIVE;
  interfaceData->Reserved = (ULONG_PTR)index + 1;
  return TRUE;
}

BOOL WINAPI SetupDiGetDeviceInterfaceDetailA(HDEVINFO info, PSP_DEVICE_INTERFACE_DATA interfaceData,
                                             PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                                             DWORD detailSize, PDWORD requiredSize,
                                             PSP_DEVINFO_DATA deviceData) {
  InterfaceList* list = ListOf(info);
  ULONG_PTR index;
  DWORD needed;
  (void)deviceData;
  if (list == NULL) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (interfaceData == NULL || interfaceData->Reserved == 0 ||
      interfaceData->Reserved > (ULONG_PTR)list->count) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  index = interfaceData->Reserved - 1;
  needed = (DWORD)(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) +
                   strlen(list->paths[index]) + 1);
  if (requiredSize != NULL) *requiredSize = needed;
  if (detail == NULL || detailSize < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  strcpy(detail->DevicePath, list->paths[index]);
  return TRUE;
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO info) {
  InterfaceList* list = ListOf(info);
  if (list == NULL) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  list->magic = 0;
  HeapFree(GetProcessHeap(), 0, list);
  return TRUE;
}
