/* Test-only hid.dll: attributes and report lengths of the simulated devices of the simulation
 * configuration (see hidsim_config.h), told apart by the name of the file behind a handle.
 * Attributes of any other device (Wine's own) come from the HID class driver itself. Only the
 * functions the driver imports exist. */
/* The HID headers need the Windows types first. */
/* clang-format off */
#include <windows.h>
#include <winioctl.h>
#include <winternl.h>
#include <hidclass.h>
#include <hidsdi.h>
/* clang-format on */
#include <ctype.h>
#include <string.h>

#include "hidsim_config.h"

#define PREPARSED_MAGIC 0x50524550u /* "PERP" */

static const GUID kHidGuid = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

typedef struct {
  DWORD magic;
  USHORT inputLength, outputLength;
} FakePreparsed;

static int SamePathChar(char a, char b) {
  if (a == '/') a = '\\';
  if (b == '/') b = '\\';
  return toupper((unsigned char)a) == toupper((unsigned char)b);
}

/* The configured device whose path ends with the name of the file behind handle (for a pipe
 * \\.\pipe\x the name is \x), or 0 when none does. */
static int FindDevice(HANDLE handle, HidSimDevice* device) {
  HidSimDevice devices[HIDSIM_MAX_DEVICES];
  union {
    FILE_NAME_INFO info;
    char bytes[sizeof(FILE_NAME_INFO) + 2 * HIDSIM_MAX_PATH];
  } name;
  char narrow[HIDSIM_MAX_PATH];
  int count, i, length;
  if (!GetFileInformationByHandleEx(handle, FileNameInfo, &name, sizeof name)) return 0;
  length = WideCharToMultiByte(CP_ACP, 0, name.info.FileName,
                               (int)(name.info.FileNameLength / sizeof(WCHAR)), narrow,
                               sizeof narrow - 1, NULL, NULL);
  if (length < 2) return 0;
  narrow[length] = '\0';
  count = HidSimLoadConfig(devices, HIDSIM_MAX_DEVICES);
  for (i = 0; i < count; ++i) {
    int pathLength = (int)strlen(devices[i].path), j;
    if (devices[i].wine || pathLength < length) continue;
    for (j = 0; j < length; ++j)
      if (!SamePathChar(devices[i].path[pathLength - length + j], narrow[j])) break;
    if (j == length) {
      *device = devices[i];
      return 1;
    }
  }
  return 0;
}

void NTAPI HidD_GetHidGuid(LPGUID guid) {
  *guid = kHidGuid;
}

BOOLEAN NTAPI HidD_GetAttributes(HANDLE handle, PHIDD_ATTRIBUTES attributes) {
  HidSimDevice device;
  HID_COLLECTION_INFORMATION info;
  DWORD returned = 0;
  if (attributes == NULL) return FALSE;
  if (FindDevice(handle, &device)) {
    if (device.failAttributes) {
      SetLastError(ERROR_GEN_FAILURE);
      return FALSE;
    }
    attributes->VendorID = device.vendorId;
    attributes->ProductID = device.productId;
    attributes->VersionNumber = device.versionNumber;
    return TRUE;
  }
  memset(&info, 0, sizeof info);
  if (!DeviceIoControl(handle, IOCTL_HID_GET_COLLECTION_INFORMATION, NULL, 0, &info, sizeof info,
                       &returned, NULL))
    return FALSE;
  attributes->VendorID = info.VendorID;
  attributes->ProductID = info.ProductID;
  attributes->VersionNumber = info.VersionNumber;
  return TRUE;
}

/* Windows accepts 2 to 512 input buffers per handle. The pipes behind the simulated devices
 * hold every report, so the count is only checked. */
BOOLEAN NTAPI HidD_SetNumInputBuffers(HANDLE handle, ULONG count) {
  (void)handle;
  if (count < 2 || count > 512) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return TRUE;
}

BOOLEAN NTAPI HidD_GetNumInputBuffers(HANDLE handle, PULONG count) {
  (void)handle;
  if (count == NULL) return FALSE;
  *count = 32;
  return TRUE;
}

BOOLEAN NTAPI HidD_GetPreparsedData(HANDLE handle, PHIDP_PREPARSED_DATA* preparsed) {
  HidSimDevice device;
  FakePreparsed* data;
  if (preparsed == NULL || !FindDevice(handle, &device) || device.failCaps) {
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  data = (FakePreparsed*)HeapAlloc(GetProcessHeap(), 0, sizeof *data);
  if (data == NULL) return FALSE;
  data->magic = PREPARSED_MAGIC;
  data->inputLength = device.inputLength;
  data->outputLength = device.outputLength;
  *preparsed = (PHIDP_PREPARSED_DATA)data;
  return TRUE;
}

BOOLEAN NTAPI HidD_FreePreparsedData(PHIDP_PREPARSED_DATA preparsed) {
  FakePreparsed* data = (FakePreparsed*)preparsed;
  if (data == NULL || data->magic != PREPARSED_MAGIC) return FALSE;
  data->magic = 0;
  HeapFree(GetProcessHeap(), 0, data);
  return TRUE;
}

NTSTATUS NTAPI HidP_GetCaps(PHIDP_PREPARSED_DATA preparsed, PHIDP_CAPS caps) {
  const FakePreparsed* data = (const FakePreparsed*)preparsed;
  if (data == NULL || data->magic != PREPARSED_MAGIC || caps == NULL)
    return HIDP_STATUS_INVALID_PREPARSED_DATA;
  memset(caps, 0, sizeof *caps);
  caps->UsagePage = 0xFF00;
  caps->Usage = 0x0001;
  caps->InputReportByteLength = data->inputLength;
  caps->OutputReportByteLength = data->outputLength;
  return HIDP_STATUS_SUCCESS;
}
