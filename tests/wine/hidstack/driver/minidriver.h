/* What a HID minidriver needs from the HID class driver that mingw-w64's DDK headers lack
 * (they ship no hidport.h, and their hidclass.h gives the minidriver request codes wrong
 * values): the registration, the class driver's device extension, the device attributes and
 * HID descriptor, and the minidriver request codes. */
#ifndef ZOL_MINIDRIVER_H
#define ZOL_MINIDRIVER_H

/* hidclass.h needs the kernel and usage types first. */
/* clang-format off */
#include <wdm.h>
#include <hidusage.h>
#include <hidclass.h>
/* clang-format on */

typedef struct {
  ULONG Revision;
  PDRIVER_OBJECT DriverObject;
  PUNICODE_STRING RegistryPath;
  ULONG DeviceExtensionSize;
  BOOLEAN DevicesArePolled;
  UCHAR Reserved[3];
} HID_MINIDRIVER_REGISTRATION;

NTSTATUS NTAPI HidRegisterMinidriver(HID_MINIDRIVER_REGISTRATION* registration);

/* The class driver's extension of every device object it creates for the minidriver. */
typedef struct {
  PDEVICE_OBJECT PhysicalDeviceObject;
  PDEVICE_OBJECT NextDeviceObject;
  PVOID MiniDeviceExtension;
} HID_DEVICE_EXTENSION;

typedef struct {
  ULONG Size;
  USHORT VendorID;
  USHORT ProductID;
  USHORT VersionNumber;
  USHORT Reserved[11];
} HID_DEVICE_ATTRIBUTES;

#pragma pack(push, 1)
typedef struct {
  UCHAR bLength;
  UCHAR bDescriptorType;
  USHORT bcdHID;
  UCHAR bCountry;
  UCHAR bNumDescriptors;
  struct {
    UCHAR bReportType;
    USHORT wReportLength;
  } DescriptorList[1];
} HID_DESCRIPTOR;
#pragma pack(pop)

#define HID_HID_DESCRIPTOR_TYPE 0x21
#define HID_REPORT_DESCRIPTOR_TYPE 0x22

#define MINIDRIVER_CODE(id) HID_CTL_CODE(id)
#define MINIDRIVER_GET_DEVICE_DESCRIPTOR MINIDRIVER_CODE(0)
#define MINIDRIVER_GET_REPORT_DESCRIPTOR MINIDRIVER_CODE(1)
#define MINIDRIVER_READ_REPORT MINIDRIVER_CODE(2)
#define MINIDRIVER_WRITE_REPORT MINIDRIVER_CODE(3)
#define MINIDRIVER_GET_STRING MINIDRIVER_CODE(4)
#define MINIDRIVER_ACTIVATE_DEVICE MINIDRIVER_CODE(7)
#define MINIDRIVER_DEACTIVATE_DEVICE MINIDRIVER_CODE(8)
#define MINIDRIVER_GET_DEVICE_ATTRIBUTES MINIDRIVER_CODE(9)

#endif
