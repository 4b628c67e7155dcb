#include "e2e_support.h"

#include <sddl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "sim_control_fifo.h"

namespace zol::e2e {

void PumpFor(DWORD ms) {
  PumpUntil([] { return false; }, ms);
}

std::string ZolDllPath() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, sizeof path);
  std::string folder(path);
  folder = folder.substr(0, folder.find_last_of("\\/"));
  // The serial tests run beside a copy of zol.dll (bin/serial-e2e); the HID tests (bin/hidsim)
  // load the one in bin.
  const std::string here = folder + "\\zol.dll";
  if (GetFileAttributesA(here.c_str()) != INVALID_FILE_ATTRIBUTES) return here;
  return folder.substr(0, folder.find_last_of("\\/")) + "\\zol.dll";
}

LoadedDriver::LoadedDriver() {
  // As a host should: by full path, its dependencies from its own folder or the system's.
  module = LoadLibraryExA(ZolDllPath().c_str(), nullptr,
                          LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module != nullptr) driver = CDriverGet(module, nullptr);
  host = CHostCreate();
}

LoadedDriver::~LoadedDriver() {
  if (driver != nullptr) CDriverClose(driver);
  if (module != nullptr) FreeLibrary(module);
  CHostDestroy(host);
}

uint8_t DevicePattern(uint8_t host) {
  static constexpr uint8_t kDeviceBit[8] = {0x08, 0x04, 0x02, 0x80, 0x40, 0x20, 0x01, 0x10};
  uint8_t device = 0;
  for (int bit = 0; bit < 8; ++bit)
    if (host & (1u << bit)) device |= kDeviceBit[bit];
  return device;
}

uint8_t HostPattern(uint8_t device) {
  for (int host = 0; host < 256; ++host)
    if (DevicePattern(static_cast<uint8_t>(host)) == device) return static_cast<uint8_t>(host);
  return 0;
}

HANDLE CreateReadWriteOnlySection(const char* name, DWORD size) {
  PSECURITY_DESCRIPTOR readWriteOnly = nullptr;
  // Everyone (WD): SECTION_MAP_WRITE | SECTION_MAP_READ.
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;;0x6;;;WD)", SDDL_REVISION_1,
                                                            &readWriteOnly, nullptr))
    return nullptr;
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, readWriteOnly, FALSE};
  HANDLE section =
      CreateFileMappingA(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0, size, name);
  const DWORD error = GetLastError();
  LocalFree(readWriteOnly);
  if (section != nullptr && error == ERROR_ALREADY_EXISTS) {
    CloseHandle(section);
    return nullptr;
  }
  return section;
}

int FindKey(CHost* host, const char* name, int from) {
  const int count = CHostKeyCount(host);
  for (int i = from; i < count; ++i)
    if (std::string(CHostKeyName(host, i)) == name) return i;
  return -1;
}

DriverTrace::DriverTrace() {
  char folder[MAX_PATH] = {};
  char file[MAX_PATH] = {};
  GetTempPathA(sizeof folder, folder);
  GetTempFileNameA(folder, "zol", 0, file);
  path_ = file;
  SetEnvironmentVariableA("ZOL_TRACE", path_.c_str());
}

DriverTrace::~DriverTrace() {
  SetEnvironmentVariableA("ZOL_TRACE", nullptr);
  DeleteFileA(path_.c_str());
}

std::string DriverTrace::Text() const {
  std::string text;
  HANDLE file = CreateFileA(path_.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return text;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read != 0)
    text.append(buffer, read);
  CloseHandle(file);
  return text;
}

std::string DriverTrace::TakeNew() {
  const std::string text = Text();
  const size_t from = taken_ < text.size() ? taken_ : text.size();
  taken_ = text.size();
  return text.substr(from);
}

SimControl::SimControl() {
  const char* dir = std::getenv("ZOL_E2E_CONTROL");
  const char* com = std::getenv("ZOL_E2E_COM");
  if (dir == nullptr || com == nullptr) return;
  dir_ = dir;
  com_ = com;
  fifo_ = simctl::OpenControlFifo(dir_);
}

SimControl::~SimControl() {
  if (fifo_ != INVALID_HANDLE_VALUE) CloseHandle(fifo_);
}

void SimControl::Send(const std::string& command) {
  simctl::WriteControlLine(fifo_, command);
}

std::vector<std::string> SimControl::Lines() {
  std::vector<std::string> lines;
  HANDLE file = CreateFileA((dir_ + "\\log").c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return lines;
  std::string text;
  char chunk[65536];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) text.append(chunk, got);
  CloseHandle(file);
  // Only complete lines: the display may be writing the last one.
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

std::vector<std::string> SimControl::LinesSince(size_t mark, const std::string& prefix) {
  const std::vector<std::string> all = Lines();
  std::vector<std::string> found;
  for (size_t i = mark; i < all.size(); ++i)
    if (all[i].compare(0, prefix.size(), prefix) == 0) found.push_back(all[i]);
  return found;
}

bool SimControl::WaitFor(size_t mark, const std::string& prefix, size_t count, DWORD limitMs) {
  return PumpUntil([&] { return LinesSince(mark, prefix).size() >= count; }, limitMs);
}

std::vector<uint8_t> HexBytesAfter(const std::string& line, const std::string& prefix) {
  std::vector<uint8_t> bytes;
  if (line.compare(0, prefix.size(), prefix) != 0) return bytes;
  std::istringstream in(line.substr(prefix.size()));
  for (std::string word; in >> word;)
    bytes.push_back(static_cast<uint8_t>(std::strtoul(word.c_str(), nullptr, 16)));
  return bytes;
}

std::vector<uint8_t> SimControl::LastFrame() {
  const size_t mark = Mark();
  Send("cells?");
  if (!WaitFor(mark, "cells ")) return {};
  return HexBytesAfter(LinesSince(mark, "cells ").front(), "cells");
}

int SimControl::Count(const std::string& type) {
  const size_t mark = Mark();
  Send("count? " + type);
  const std::string prefix = "count " + type + " ";
  if (!WaitFor(mark, prefix)) return -1;
  return std::atoi(LinesSince(mark, prefix).front().c_str() + prefix.size());
}

void SimControl::Quit() {
  const size_t mark = Mark();
  Send("quit");
  WaitFor(mark, "sim-exit");
}

bool SimControl::Restart() {
  const size_t mark = Mark();
  HANDLE file =
      CreateFileA((dir_ + "\\restart").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return WaitFor(mark, "ready");
}

}  // namespace zol::e2e
