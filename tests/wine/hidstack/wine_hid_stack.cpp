#include "wine_hid_stack.h"

// clang-format off
#include <setupapi.h>
#include <devguid.h>
#include <cfgmgr32.h>
// clang-format on

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

namespace zol::hidstack {

namespace {

// REG_MULTI_SZ: one ID, then the list's end.
const wchar_t kHardwareIds[] = L"ZOLTEST\\VIRTUAL_HID\0";
const GUID kHidInterface = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
constexpr DWORD kPollMs = 20;
constexpr DWORD kArrivalMs = 15000;
constexpr DWORD kRemovalMs = 15000;

std::string Failure(const char* call) {
  char text[160];
  std::snprintf(text, sizeof text, "%s failed, error %lu", call,
                static_cast<unsigned long>(GetLastError()));
  return text;
}

void Set(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
}

std::wstring ProgramDir() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return L".";
  std::wstring dir(path, length);
  return dir.substr(0, dir.find_last_of(L"\\/"));
}

// The driver package is built into bin/hidstack; test programs live in bin/ or one level below.
std::wstring PackageInf() {
  const std::wstring dir = ProgramDir();
  for (const wchar_t* candidate : {L"\\hidstack\\", L"\\..\\hidstack\\"}) {
    const std::wstring inf = dir + candidate + L"zol_virtual_hid.inf";
    if (GetFileAttributesW(inf.c_str()) != INVALID_FILE_ATTRIBUTES) {
      wchar_t full[MAX_PATH];
      const DWORD length = GetFullPathNameW(inf.c_str(), MAX_PATH, full, nullptr);
      if (length > 0 && length < MAX_PATH) return full;
    }
  }
  return L"";
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string Narrow(const wchar_t* text) {
  char buffer[512];
  const int length =
      WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, sizeof buffer, nullptr, nullptr);
  return length > 0 ? std::string(buffer) : std::string();
}

// Removes every device of the test driver's hardware ID (left by a run that did not finish).
void RemoveLeftovers() {
  HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVCLASS_SYSTEM, L"ROOT", nullptr, 0);
  if (set == INVALID_HANDLE_VALUE) return;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
    wchar_t ids[256] = {};
    if (SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID, nullptr,
                                          reinterpret_cast<BYTE*>(ids),
                                          sizeof ids - 2 * sizeof(wchar_t), nullptr) &&
        _wcsicmp(ids, kHardwareIds) == 0)
      SetupDiCallClassInstaller(DIF_REMOVE, set, &device);
  }
  SetupDiDestroyDeviceInfoList(set);
}

bool WriteDword(HKEY key, const wchar_t* name, DWORD value) {
  return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                        sizeof value) == ERROR_SUCCESS;
}

// The device's own settings, read by the driver when the device starts.
bool Configure(HDEVINFO set, SP_DEVINFO_DATA* device, const std::string& pipePath, uint16_t vendor,
               uint16_t product, uint16_t version, std::string* error) {
  HKEY key = SetupDiCreateDevRegKeyW(set, device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, nullptr, nullptr);
  if (key == INVALID_HANDLE_VALUE) {
    Set(error, Failure("SetupDiCreateDevRegKey"));
    return false;
  }
  // \\.\pipe\name is \??\pipe\name to the driver.
  std::wstring ntPath = L"\\??\\";
  const size_t skip = pipePath.rfind("\\\\.\\", 0) == 0 ? 4 : 0;
  for (size_t i = skip; i < pipePath.size(); ++i)
    ntPath += static_cast<wchar_t>(static_cast<unsigned char>(pipePath[i]));
  const bool ok =
      RegSetValueExW(key, L"PipeName", 0, REG_SZ, reinterpret_cast<const BYTE*>(ntPath.c_str()),
                     static_cast<DWORD>((ntPath.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS &&
      WriteDword(key, L"VendorId", vendor) && WriteDword(key, L"ProductId", product) &&
      WriteDword(key, L"VersionNumber", version);
  RegCloseKey(key);
  if (!ok) Set(error, "writing the device's settings failed");
  return ok;
}

// Selects the test driver from its INF for this one device and installs it, which starts it.
bool InstallOn(HDEVINFO set, SP_DEVINFO_DATA* device, const std::wstring& inf, std::string* error) {
  SP_DEVINSTALL_PARAMS_W params{};
  params.cbSize = sizeof params;
  if (!SetupDiGetDeviceInstallParamsW(set, device, &params)) {
    Set(error, Failure("SetupDiGetDeviceInstallParams"));
    return false;
  }
  if (inf.size() >= MAX_PATH) {
    Set(error, "the INF path is too long");
    return false;
  }
  wcscpy(params.DriverPath, inf.c_str());
  params.Flags |= DI_ENUMSINGLEINF;
  if (!SetupDiSetDeviceInstallParamsW(set, device, &params)) {
    Set(error, Failure("SetupDiSetDeviceInstallParams"));
    return false;
  }
  if (!SetupDiBuildDriverInfoList(set, device, SPDIT_COMPATDRIVER)) {
    Set(error, Failure("SetupDiBuildDriverInfoList"));
    return false;
  }
  if (!SetupDiCallClassInstaller(DIF_SELECTBESTCOMPATDRV, set, device)) {
    Set(error, Failure("SetupDiCallClassInstaller(DIF_SELECTBESTCOMPATDRV)"));
    return false;
  }
  if (!SetupDiCallClassInstaller(DIF_INSTALLDEVICE, set, device)) {
    Set(error, Failure("SetupDiCallClassInstaller(DIF_INSTALLDEVICE)"));
    return false;
  }
  return true;
}

// Every present HID interface path, lower case.
std::vector<std::string> InterfacePaths() {
  std::vector<std::string> paths;
  HDEVINFO set =
      SetupDiGetClassDevsW(&kHidInterface, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return paths;
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof data;
  for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &kHidInterface, i, &data); ++i) {
    union {
      SP_DEVICE_INTERFACE_DETAIL_DATA_W detail;
      char bytes[sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) + 512 * sizeof(wchar_t)];
    } buffer;
    buffer.detail.cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (SetupDiGetDeviceInterfaceDetailW(set, &data, &buffer.detail, sizeof buffer, nullptr,
                                         nullptr))
      paths.push_back(Lower(Narrow(buffer.detail.DevicePath)));
  }
  SetupDiDestroyDeviceInfoList(set);
  return paths;
}

std::string IdsInPath(uint16_t vendor, uint16_t product) {
  char ids[32];
  std::snprintf(ids, sizeof ids, "vid_%04x&pid_%04x", vendor, product);
  return ids;
}

}  // namespace

bool InstallDriver(std::string* error) {
  static int result = -1;
  static std::string reason;
  if (result < 0) {
    if (PackageInf().empty()) {
      reason = "the driver package (hidstack/zol_virtual_hid.inf) is not beside the program";
      result = 0;
    } else {
      RemoveLeftovers();
      result = 1;
    }
  }
  if (result == 0) Set(error, reason);
  return result == 1;
}

std::string FindInterface(uint16_t vendor, uint16_t product, DWORD waitMs) {
  const std::string ids = IdsInPath(vendor, product);
  const DWORD start = GetTickCount();
  for (;;) {
    for (const std::string& path : InterfacePaths())
      if (path.find(ids) != std::string::npos) return path;
    if (GetTickCount() - start >= waitMs) return "";
    Sleep(kPollMs);
  }
}

VirtualHidDevice::~VirtualHidDevice() {
  Unplug();
}

bool VirtualHidDevice::Plug(const std::string& pipePath, uint16_t vendor, uint16_t product,
                            uint16_t version, std::string* error) {
  if (plugged()) Unplug();
  const std::wstring inf = PackageInf();
  if (!InstallDriver(error)) return false;
  HDEVINFO set = SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_SYSTEM, nullptr);
  if (set == INVALID_HANDLE_VALUE) {
    Set(error, Failure("SetupDiCreateDeviceInfoList"));
    return false;
  }
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  bool ok = false;
  // Wine's HID class driver names its device after the parent's device ID (ROOT\\X\\n gives
  // HID\\X\\n), so the root device carries the ids the interface path must show.
  wchar_t name[32];
  swprintf(name, 32, L"VID_%04X&PID_%04X", vendor, product);
  if (!SetupDiCreateDeviceInfoW(set, name, &GUID_DEVCLASS_SYSTEM, nullptr, nullptr,
                                DICD_GENERATE_ID, &device)) {
    Set(error, Failure("SetupDiCreateDeviceInfo"));
  } else if (!SetupDiSetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID,
                                                reinterpret_cast<const BYTE*>(kHardwareIds),
                                                sizeof kHardwareIds)) {
    Set(error, Failure("SetupDiSetDeviceRegistryProperty(SPDRP_HARDWAREID)"));
  } else if (!SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device)) {
    Set(error, Failure("SetupDiCallClassInstaller(DIF_REGISTERDEVICE)"));
  } else {
    wchar_t id[MAX_DEVICE_ID_LEN];
    if (SetupDiGetDeviceInstanceIdW(set, &device, id, MAX_DEVICE_ID_LEN, nullptr))
      instanceId_ = Narrow(id);
    ok = Configure(set, &device, pipePath, vendor, product, version, error) &&
         InstallOn(set, &device, inf, error);
    if (!ok) SetupDiCallClassInstaller(DIF_REMOVE, set, &device);
  }
  SetupDiDestroyDeviceInfoList(set);
  if (!ok) {
    instanceId_.clear();
    return false;
  }
  vendor_ = vendor;
  product_ = product;
  interfacePath_ = FindInterface(vendor, product, kArrivalMs);
  if (interfacePath_.empty()) {
    Set(error, "the device " + instanceId_ + " was installed but no HID interface of it appeared");
    Unplug();
    return false;
  }
  return true;
}

bool VirtualHidDevice::Unplug(std::string* error) {
  if (!plugged()) return true;
  HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  wchar_t id[MAX_DEVICE_ID_LEN];
  MultiByteToWideChar(CP_ACP, 0, instanceId_.c_str(), -1, id, MAX_DEVICE_ID_LEN);
  bool ok = set != INVALID_HANDLE_VALUE && SetupDiOpenDeviceInfoW(set, id, nullptr, 0, &device) &&
            SetupDiCallClassInstaller(DIF_REMOVE, set, &device);
  if (!ok) Set(error, Failure("removing the device"));
  if (set != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(set);
  // Removal is over when the interface is no longer listed.
  const DWORD start = GetTickCount();
  while (!FindInterface(vendor_, product_, 0).empty()) {
    if (GetTickCount() - start >= kRemovalMs) {
      Set(error, "the HID interface of " + instanceId_ + " stayed after its removal");
      ok = false;
      break;
    }
    Sleep(kPollMs);
  }
  instanceId_.clear();
  interfacePath_.clear();
  return ok;
}

}  // namespace zol::hidstack
