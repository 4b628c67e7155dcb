/* A HID minidriver for tests: one device per root-enumerated device instance, whose reports
 * travel through a named pipe to a simulated display in a test program.
 *
 * The device instance's registry key (the one IoOpenDeviceRegistryKey opens) says which pipe
 * and which ids: PipeName (REG_SZ, an NT path such as \??\pipe\name), VendorId, ProductId and
 * VersionNumber (REG_DWORD). The report descriptor gives 9-byte input and output reports (no
 * report ID, so report ID 0 and 8 payload bytes), a vendor-defined collection.
 *
 * The pipe carries whole reports, report ID first, one message each: output reports the class
 * driver passes down are written to it, and messages read from it complete the class driver's
 * pending reads. The pipe stays open while the device is started; a device removed through
 * plug and play closes it, and the serving program sees its connections end. */
#include <ntddk.h>

#include "minidriver.h"

#define POOL_TAG 0x64696856u /* "Vhid" */
#define MAX_MESSAGE 1024
#define MAX_PIPE_NAME 256

/* ntoskrnl exports that the DDK headers do not declare. */
NTSTATUS NTAPI ZwCreateEvent(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, EVENT_TYPE, BOOLEAN);
NTSTATUS NTAPI ZwSetEvent(HANDLE, PLONG);
NTSTATUS NTAPI ZwWaitForSingleObject(HANDLE, BOOLEAN, PLARGE_INTEGER);
NTSTATUS NTAPI ZwWaitForMultipleObjects(ULONG, HANDLE*, WAIT_TYPE, BOOLEAN, PLARGE_INTEGER);
NTSTATUS NTAPI ZwCancelIoFile(HANDLE, PIO_STATUS_BLOCK);

typedef struct {
  ULONG ReadMode;
  ULONG CompletionMode;
} PIPE_MODE_INFORMATION;
#define PIPE_MESSAGE_MODE 1
#define PIPE_QUEUE_OPERATION 0

static const UCHAR kReportDescriptor[] = {
    0x06, 0x00, 0xFF, /* usage page: vendor defined 0xFF00 */
    0x09, 0x01,       /* usage 1 */
    0xA1, 0x01,       /* collection: application */
    0x15, 0x00,       /*   logical minimum 0 */
    0x26, 0xFF, 0x00, /*   logical maximum 255 */
    0x75, 0x08,       /*   report size: 8 bits */
    0x95, 0x08,       /*   report count: 8 */
    0x09, 0x01,       /*   usage 1 */
    0x81, 0x02,       /*   input: data, variable, absolute */
    0x09, 0x02,       /*   usage 2 */
    0x91, 0x02,       /*   output: data, variable, absolute */
    0xC0,             /* end collection */
};
#define REPORT_PAYLOAD 8

typedef struct {
  PDEVICE_OBJECT pdo;
  PDEVICE_OBJECT lower;
  USHORT vendorId, productId, versionNumber;
  WCHAR pipeName[MAX_PIPE_NAME];
  HANDLE writePipe;  /* synchronous: written from the class driver's thread */
  HANDLE readPipe;   /* asynchronous: read by the pump thread */
  HANDLE stopEvent;  /* tells the pump thread to end */
  HANDLE readQueued; /* a read request was queued */
  HANDLE pump;
  KSPIN_LOCK lock;
  LIST_ENTRY reads; /* pending read requests, oldest first */
  BOOLEAN started;
} DEVICE;

static DEVICE* DeviceOf(PDEVICE_OBJECT device) {
  return (DEVICE*)((HID_DEVICE_EXTENSION*)device->DeviceExtension)->MiniDeviceExtension;
}

static NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

/* Reads one REG_DWORD value, or keeps *value. */
static void ReadNumber(HANDLE key, const WCHAR* name, USHORT* value) {
  UNICODE_STRING valueName;
  union {
    KEY_VALUE_PARTIAL_INFORMATION info;
    UCHAR bytes[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + sizeof(ULONG)];
  } data;
  ULONG size = 0;
  RtlInitUnicodeString(&valueName, name);
  if (NT_SUCCESS(ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, &data, sizeof data,
                                 &size)) &&
      data.info.Type == REG_DWORD && data.info.DataLength == sizeof(ULONG))
    *value = (USHORT) * (ULONG*)data.info.Data;
}

static void ReadConfiguration(DEVICE* device) {
  HANDLE key;
  UNICODE_STRING valueName;
  union {
    KEY_VALUE_PARTIAL_INFORMATION info;
    UCHAR bytes[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + sizeof(device->pipeName)];
  } data;
  ULONG size = 0, length;
  device->pipeName[0] = 0;
  if (!NT_SUCCESS(IoOpenDeviceRegistryKey(device->pdo, PLUGPLAY_REGKEY_DEVICE, KEY_READ, &key)))
    return;
  ReadNumber(key, L"VendorId", &device->vendorId);
  ReadNumber(key, L"ProductId", &device->productId);
  ReadNumber(key, L"VersionNumber", &device->versionNumber);
  RtlInitUnicodeString(&valueName, L"PipeName");
  if (NT_SUCCESS(ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, &data, sizeof data,
                                 &size)) &&
      data.info.Type == REG_SZ) {
    /* Bounded by the buffer, terminated whether or not the value was. */
    length = data.info.DataLength / sizeof(WCHAR);
    if (length >= MAX_PIPE_NAME) length = MAX_PIPE_NAME - 1;
    RtlCopyMemory(device->pipeName, data.info.Data, length * sizeof(WCHAR));
    device->pipeName[length] = 0;
  }
  ZwClose(key);
}

static NTSTATUS OpenPipe(DEVICE* device, ACCESS_MASK access, ULONG options, HANDLE* pipe) {
  UNICODE_STRING name;
  OBJECT_ATTRIBUTES attributes;
  IO_STATUS_BLOCK io;
  RtlInitUnicodeString(&name, device->pipeName);
  InitializeObjectAttributes(&attributes, &name, OBJ_KERNEL_HANDLE | OBJ_CASE_INSENSITIVE, NULL,
                             NULL);
  return ZwCreateFile(pipe, access | SYNCHRONIZE, &attributes, &io, NULL, 0,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN,
                      FILE_NON_DIRECTORY_FILE | options, NULL, 0);
}

/* ---- pending reads -------------------------------------------------------------------- */

static VOID NTAPI CancelRead(PDEVICE_OBJECT object, PIRP irp) {
  DEVICE* device = DeviceOf(object);
  KIRQL irql;
  IoReleaseCancelSpinLock(irp->CancelIrql);
  KeAcquireSpinLock(&device->lock, &irql);
  RemoveEntryList(&irp->Tail.Overlay.ListEntry);
  KeReleaseSpinLock(&device->lock, irql);
  Complete(irp, STATUS_CANCELLED, 0);
}

static NTSTATUS QueueRead(DEVICE* device, PIRP irp) {
  KIRQL irql;
  KeAcquireSpinLock(&device->lock, &irql);
  IoSetCancelRoutine(irp, CancelRead);
  if (irp->Cancel && IoSetCancelRoutine(irp, NULL) != NULL) {
    KeReleaseSpinLock(&device->lock, irql);
    return Complete(irp, STATUS_CANCELLED, 0);
  }
  IoMarkIrpPending(irp);
  InsertTailList(&device->reads, &irp->Tail.Overlay.ListEntry);
  KeReleaseSpinLock(&device->lock, irql);
  ZwSetEvent(device->readQueued, NULL);
  return STATUS_PENDING;
}

/* The oldest pending read that is not being cancelled, or NULL. */
static PIRP TakeRead(DEVICE* device) {
  PIRP irp = NULL;
  KIRQL irql;
  KeAcquireSpinLock(&device->lock, &irql);
  while (irp == NULL && !IsListEmpty(&device->reads)) {
    PLIST_ENTRY entry = RemoveHeadList(&device->reads);
    PIRP candidate = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
    if (IoSetCancelRoutine(candidate, NULL) != NULL)
      irp = candidate;
    else
      InitializeListHead(entry); /* its cancel routine runs and unlinks nothing */
  }
  KeReleaseSpinLock(&device->lock, irql);
  return irp;
}

static void FailPendingReads(DEVICE* device, NTSTATUS status) {
  PIRP irp;
  while ((irp = TakeRead(device)) != NULL) Complete(irp, status, 0);
}

/* ---- the pump: pipe messages to pending reads ----------------------------------------- */

/* Waits for the event or the stop event; TRUE when the event came first. */
static BOOLEAN WaitOrStop(DEVICE* device, HANDLE event) {
  HANDLE handles[2] = {device->stopEvent, event};
  return ZwWaitForMultipleObjects(2, handles, WaitAny, FALSE, NULL) == STATUS_WAIT_0 + 1;
}

/* Reads one message; its length, or -1 when stopped or the pipe failed. Messages longer than
 * the buffer are read to their end and dropped: no report is that long. */
static LONG ReadMessage(DEVICE* device, HANDLE ioEvent, UCHAR* buffer) {
  for (;;) {
    IO_STATUS_BLOCK io;
    NTSTATUS status =
        ZwReadFile(device->readPipe, ioEvent, NULL, NULL, &io, buffer, MAX_MESSAGE, NULL, NULL);
    if (status == STATUS_PENDING) {
      if (!WaitOrStop(device, ioEvent)) {
        IO_STATUS_BLOCK cancel;
        ZwCancelIoFile(device->readPipe, &cancel);
        ZwWaitForSingleObject(ioEvent, FALSE, NULL);
        return -1;
      }
      status = io.Status;
    }
    if (status == STATUS_BUFFER_OVERFLOW) {
      while (status == STATUS_BUFFER_OVERFLOW) {
        status =
            ZwReadFile(device->readPipe, ioEvent, NULL, NULL, &io, buffer, MAX_MESSAGE, NULL, NULL);
        if (status == STATUS_PENDING) {
          ZwWaitForSingleObject(ioEvent, FALSE, NULL);
          status = io.Status;
        }
      }
      continue;
    }
    if (!NT_SUCCESS(status)) return -1;
    return (LONG)io.Information;
  }
}

/* Gives one report to the oldest pending read: without a report ID the class driver expects
 * the payload alone, so the leading ID byte stays behind. */
static BOOLEAN Deliver(DEVICE* device, const UCHAR* message, LONG length) {
  const UCHAR* payload = message + (length > 0 ? 1 : 0);
  ULONG payloadLength = length > 0 ? (ULONG)length - 1 : 0;
  for (;;) {
    PIRP irp = TakeRead(device);
    if (irp != NULL) {
      PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
      ULONG capacity = stack->Parameters.DeviceIoControl.OutputBufferLength;
      ULONG copied = payloadLength < capacity ? payloadLength : capacity;
      RtlCopyMemory(irp->UserBuffer, payload, copied);
      Complete(irp, STATUS_SUCCESS, copied);
      return TRUE;
    }
    if (!WaitOrStop(device, device->readQueued)) return FALSE;
  }
}

static VOID NTAPI Pump(PVOID context) {
  DEVICE* device = (DEVICE*)context;
  HANDLE ioEvent = NULL;
  UCHAR* buffer = ExAllocatePoolWithTag(NonPagedPool, MAX_MESSAGE, POOL_TAG);
  if (buffer != NULL &&
      NT_SUCCESS(ZwCreateEvent(&ioEvent, EVENT_ALL_ACCESS, NULL, NotificationEvent, FALSE))) {
    for (;;) {
      LONG length = ReadMessage(device, ioEvent, buffer);
      if (length < 0) break;
      if (!Deliver(device, buffer, length)) break;
    }
    /* The display is gone or the device stops: nothing more will come until the device
     * is removed, which the stop event tells. */
    ZwWaitForSingleObject(device->stopEvent, FALSE, NULL);
  }
  if (ioEvent != NULL) ZwClose(ioEvent);
  if (buffer != NULL) ExFreePoolWithTag(buffer, POOL_TAG);
  PsTerminateSystemThread(STATUS_SUCCESS);
}

/* ---- plug and play -------------------------------------------------------------------- */

static void CloseHandleOnce(HANDLE* handle) {
  if (*handle != NULL) ZwClose(*handle);
  *handle = NULL;
}

static NTSTATUS Start(DEVICE* device) {
  NTSTATUS status;
  PIPE_MODE_INFORMATION mode = {PIPE_MESSAGE_MODE, PIPE_QUEUE_OPERATION};
  IO_STATUS_BLOCK io;
  if (device->started) return STATUS_SUCCESS;
  ReadConfiguration(device);
  if (device->pipeName[0] == 0) return STATUS_DEVICE_CONFIGURATION_ERROR;
  status = OpenPipe(device, GENERIC_READ | FILE_WRITE_ATTRIBUTES, 0, &device->readPipe);
  if (NT_SUCCESS(status))
    status = ZwSetInformationFile(device->readPipe, &io, &mode, sizeof mode, FilePipeInformation);
  if (NT_SUCCESS(status))
    status = OpenPipe(device, GENERIC_WRITE, FILE_SYNCHRONOUS_IO_NONALERT, &device->writePipe);
  if (NT_SUCCESS(status))
    status = ZwCreateEvent(&device->stopEvent, EVENT_ALL_ACCESS, NULL, NotificationEvent, FALSE);
  if (NT_SUCCESS(status))
    status =
        ZwCreateEvent(&device->readQueued, EVENT_ALL_ACCESS, NULL, SynchronizationEvent, FALSE);
  if (NT_SUCCESS(status))
    status = PsCreateSystemThread(&device->pump, THREAD_ALL_ACCESS, NULL, NULL, NULL, Pump, device);
  if (!NT_SUCCESS(status)) {
    CloseHandleOnce(&device->readQueued);
    CloseHandleOnce(&device->stopEvent);
    CloseHandleOnce(&device->writePipe);
    CloseHandleOnce(&device->readPipe);
    return status;
  }
  device->started = TRUE;
  return STATUS_SUCCESS;
}

static void Stop(DEVICE* device) {
  if (!device->started) return;
  device->started = FALSE;
  ZwSetEvent(device->stopEvent, NULL);
  ZwWaitForSingleObject(device->pump, FALSE, NULL);
  CloseHandleOnce(&device->pump);
  FailPendingReads(device, STATUS_DEVICE_NOT_CONNECTED);
  CloseHandleOnce(&device->readQueued);
  CloseHandleOnce(&device->stopEvent);
  CloseHandleOnce(&device->writePipe);
  CloseHandleOnce(&device->readPipe);
}

static NTSTATUS NTAPI DispatchPnp(PDEVICE_OBJECT object, PIRP irp) {
  DEVICE* device = DeviceOf(object);
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  NTSTATUS status;
  switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
      status = Start(device);
      if (!NT_SUCCESS(status)) return Complete(irp, status, 0);
      irp->IoStatus.Status = STATUS_SUCCESS;
      break;
    case IRP_MN_SURPRISE_REMOVAL:
    case IRP_MN_REMOVE_DEVICE:
    case IRP_MN_STOP_DEVICE:
      Stop(device);
      irp->IoStatus.Status = STATUS_SUCCESS;
      break;
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
      irp->IoStatus.Status = STATUS_SUCCESS;
      break;
    default:
      break;
  }
  IoSkipCurrentIrpStackLocation(irp);
  return IoCallDriver(device->lower, irp);
}

/* ---- class driver requests ------------------------------------------------------------ */

static NTSTATUS CopyOut(PIRP irp, const void* data, ULONG length) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  if (stack->Parameters.DeviceIoControl.OutputBufferLength < length)
    return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
  RtlCopyMemory(irp->UserBuffer, data, length);
  return Complete(irp, STATUS_SUCCESS, length);
}

static NTSTATUS GetString(PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  ULONG id = (ULONG)(ULONG_PTR)stack->Parameters.DeviceIoControl.Type3InputBuffer & 0xFFFF;
  const WCHAR* text;
  switch (id) {
    case HID_STRING_ID_IMANUFACTURER:
      text = L"zol tests";
      break;
    case HID_STRING_ID_IPRODUCT:
      text = L"Virtual HID display";
      break;
    case HID_STRING_ID_ISERIALNUMBER:
      text = L"0001";
      break;
    default:
      return Complete(irp, STATUS_INVALID_PARAMETER, 0);
  }
  return CopyOut(irp, text, (ULONG)(wcslen(text) + 1) * sizeof(WCHAR));
}

/* Writes an output report to the display, report ID first. The class driver passes the
 * payload without the ID byte for report ID 0; a buffer that still holds it is sent as is. */
static NTSTATUS WriteReport(DEVICE* device, PIRP irp) {
  HID_XFER_PACKET* packet = (HID_XFER_PACKET*)irp->UserBuffer;
  UCHAR message[1 + MAX_MESSAGE];
  ULONG length;
  IO_STATUS_BLOCK io;
  NTSTATUS status;
  if (packet == NULL || packet->reportBuffer == NULL || packet->reportBufferLen > MAX_MESSAGE)
    return Complete(irp, STATUS_INVALID_PARAMETER, 0);
  if (!device->started) return Complete(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
  if (packet->reportBufferLen == 1 + REPORT_PAYLOAD) {
    RtlCopyMemory(message, packet->reportBuffer, packet->reportBufferLen);
    length = packet->reportBufferLen;
  } else {
    message[0] = packet->reportId;
    RtlCopyMemory(message + 1, packet->reportBuffer, packet->reportBufferLen);
    length = packet->reportBufferLen + 1;
  }
  status = ZwWriteFile(device->writePipe, NULL, NULL, NULL, &io, message, length, NULL, NULL);
  if (!NT_SUCCESS(status)) return Complete(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
  return Complete(irp, STATUS_SUCCESS, packet->reportBufferLen);
}

static NTSTATUS NTAPI DispatchInternal(PDEVICE_OBJECT object, PIRP irp) {
  DEVICE* device = DeviceOf(object);
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case MINIDRIVER_GET_DEVICE_DESCRIPTOR: {
      HID_DESCRIPTOR descriptor = {sizeof(HID_DESCRIPTOR),
                                   HID_HID_DESCRIPTOR_TYPE,
                                   0x0100,
                                   0,
                                   1,
                                   {{HID_REPORT_DESCRIPTOR_TYPE, sizeof kReportDescriptor}}};
      return CopyOut(irp, &descriptor, sizeof descriptor);
    }
    case MINIDRIVER_GET_REPORT_DESCRIPTOR:
      return CopyOut(irp, kReportDescriptor, sizeof kReportDescriptor);
    case MINIDRIVER_GET_DEVICE_ATTRIBUTES: {
      HID_DEVICE_ATTRIBUTES attributes;
      RtlZeroMemory(&attributes, sizeof attributes);
      attributes.Size = sizeof attributes;
      attributes.VendorID = device->vendorId;
      attributes.ProductID = device->productId;
      attributes.VersionNumber = device->versionNumber;
      return CopyOut(irp, &attributes, sizeof attributes);
    }
    case MINIDRIVER_GET_STRING:
      return GetString(irp);
    case MINIDRIVER_READ_REPORT:
      if (!device->started) return Complete(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
      return QueueRead(device, irp);
    case MINIDRIVER_WRITE_REPORT:
      return WriteReport(device, irp);
    case MINIDRIVER_ACTIVATE_DEVICE:
    case MINIDRIVER_DEACTIVATE_DEVICE:
      return Complete(irp, STATUS_SUCCESS, 0);
    default:
      return Complete(irp, STATUS_NOT_SUPPORTED, 0);
  }
}

static NTSTATUS NTAPI AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT object) {
  HID_DEVICE_EXTENSION* extension = (HID_DEVICE_EXTENSION*)object->DeviceExtension;
  DEVICE* device = (DEVICE*)extension->MiniDeviceExtension;
  (void)driver;
  RtlZeroMemory(device, sizeof *device);
  device->pdo = extension->PhysicalDeviceObject;
  device->lower = extension->NextDeviceObject;
  device->vendorId = 0x04D8;
  device->versionNumber = 0x0100;
  KeInitializeSpinLock(&device->lock);
  InitializeListHead(&device->reads);
  object->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}

static VOID NTAPI Unload(PDRIVER_OBJECT driver) {
  (void)driver;
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
  HID_MINIDRIVER_REGISTRATION registration;
  driver->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
  driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = DispatchInternal;
  driver->DriverExtension->AddDevice = AddDevice;
  driver->DriverUnload = Unload;
  RtlZeroMemory(&registration, sizeof registration);
  registration.Revision = HID_REVISION;
  registration.DriverObject = driver;
  registration.RegistryPath = registryPath;
  registration.DeviceExtensionSize = sizeof(DEVICE);
  registration.DevicesArePolled = FALSE;
  return HidRegisterMinidriver(&registration);
}
