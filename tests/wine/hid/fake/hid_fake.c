/* Test-only hid.dll: attributes, report lengths and input buffer counts of the simulated devices
 * of the simulation configuration (see hidsim_config.h), told apart by the name of the file
 * behind a handle. The same of any other device (Wine's own) come from the HID class driver
 * itself. Only the functions the driver imports exist. */
/* The HID headers need the Windows types first. */
/* clang-format off */
#include <windows.h>
#include <winioctl.h>
#include <winternl.h>
#include <hidclass.h>
#include <hidsdi.h>
/* clang-format on */
#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include "hidsim_config.h"
#include "hidsim_control.h"

#define PREPARSED_MAGIC 0x50524550u /* "PERP" */
#define CONTROL_WAIT_MS 5000

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
  HidSimDevice* devices;
  int found = 0;
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
  devices = (HidSimDevice*)HeapAlloc(GetProcessHeap(), 0, HIDSIM_MAX_DEVICES * sizeof *devices);
  if (devices == NULL) return 0;
  count = HidSimLoadConfig(devices, HIDSIM_MAX_DEVICES);
  for (i = 0; i < count && !found; ++i) {
    int pathLength = (int)strlen(devices[i].path), j;
    if (devices[i].wine || pathLength < length) continue;
    for (j = 0; j < length; ++j)
      if (!SamePathChar(devices[i].path[pathLength - length + j], narrow[j])) break;
    if (j == length) {
      *device = devices[i];
      found = 1;
    }
  }
  HeapFree(GetProcessHeap(), 0, devices);
  return found;
}

/* Writes request through handle and waits for the server's answer: ERROR_SUCCESS, or why not
 * (the write's error when the handle cannot write: no access rights, or the device is gone;
 * ERROR_GEN_FAILURE when no answer comes). */
static DWORD Exchange(HANDLE handle, const HidSimControl* request, HANDLE done,
                      const HidSimAnswer* answer) {
  OVERLAPPED overlapped;
  DWORD transferred = 0, result = ERROR_SUCCESS;
  memset(&overlapped, 0, sizeof overlapped);
  overlapped.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
  if (overlapped.hEvent == NULL) return GetLastError();
  /* The handle may or may not be overlapped; with a record the write works on both. */
  if (!WriteFile(handle, request, sizeof *request, NULL, &overlapped) &&
      GetLastError() != ERROR_IO_PENDING) {
    result = GetLastError();
  } else if (WaitForSingleObject(overlapped.hEvent, CONTROL_WAIT_MS) != WAIT_OBJECT_0) {
    CancelIoEx(handle, &overlapped);
    GetOverlappedResult(handle, &overlapped, &transferred, TRUE);
    result = ERROR_GEN_FAILURE;
  } else if (!GetOverlappedResult(handle, &overlapped, &transferred, FALSE)) {
    result = GetLastError();
  } else if (WaitForSingleObject(done, CONTROL_WAIT_MS) != WAIT_OBJECT_0) {
    result = ERROR_GEN_FAILURE;
  } else if (!answer->ok) {
    result = ERROR_INVALID_PARAMETER;
  }
  CloseHandle(overlapped.hEvent);
  return result;
}

/* Asks the device's server about handle (see hidsim_control.h); on success *answerValue is the
 * handle's number of input buffers. */
static BOOLEAN Control(HANDLE handle, unsigned int operation, unsigned int value,
                       unsigned int* answerValue) {
  static LONG sequence;
  HidSimControl request;
  HidSimAnswer* answer = NULL;
  HANDLE mapping, done;
  char doneName[HIDSIM_CONTROL_ANSWER_NAME + 8];
  DWORD result = ERROR_NOT_ENOUGH_MEMORY;

  memset(&request, 0, sizeof request);
  memcpy(request.marker, HIDSIM_CONTROL_MARKER, sizeof request.marker);
  request.operation = operation;
  request.value = value;
  snprintf(request.answer, sizeof request.answer, "Local\\zolhidsim-%lu-%ld",
           (unsigned long)GetCurrentProcessId(), (long)InterlockedIncrement(&sequence));
  snprintf(doneName, sizeof doneName, "%s-done", request.answer);
  mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0, sizeof *answer,
                               request.answer);
  if (mapping != NULL) answer = (HidSimAnswer*)MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
  done = CreateEventA(NULL, TRUE, FALSE, doneName);
  if (answer != NULL && done != NULL) result = Exchange(handle, &request, done, answer);
  if (result == ERROR_SUCCESS) *answerValue = answer->value;
  if (done != NULL) CloseHandle(done);
  if (answer != NULL) UnmapViewOfFile(answer);
  if (mapping != NULL) CloseHandle(mapping);
  if (result != ERROR_SUCCESS) SetLastError(result);
  return result == ERROR_SUCCESS;
}

void NTAPI HidD_GetHidGuid(LPGUID guid) {
  *guid = kHidSimClassGuid;
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

BOOLEAN NTAPI HidD_SetNumInputBuffers(HANDLE handle, ULONG count) {
  HidSimDevice device;
  unsigned int now = 0;
  DWORD returned = 0;
  if (!FindDevice(handle, &device))
    return DeviceIoControl(handle, IOCTL_SET_NUM_DEVICE_INPUT_BUFFERS, &count, sizeof count, NULL,
                           0, &returned, NULL) != FALSE;
  /* As documented: at least 2, at most 512 (Windows XP and later). */
  if (count < HIDSIM_MIN_INPUT_BUFFERS || count > HIDSIM_MAX_INPUT_BUFFERS) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return Control(handle, HIDSIM_SET_INPUT_BUFFERS, count, &now);
}

BOOLEAN NTAPI HidD_GetNumInputBuffers(HANDLE handle, PULONG count) {
  HidSimDevice device;
  unsigned int now = 0;
  DWORD returned = 0;
  if (count == NULL) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!FindDevice(handle, &device))
    return DeviceIoControl(handle, IOCTL_GET_NUM_DEVICE_INPUT_BUFFERS, NULL, 0, count,
                           sizeof *count, &returned, NULL) != FALSE;
  if (!Control(handle, HIDSIM_GET_INPUT_BUFFERS, 0, &now)) return FALSE;
  *count = now;
  return TRUE;
}
