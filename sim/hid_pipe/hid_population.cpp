#include "hid_population.h"

#include <windows.h>

#include <cstdio>
#include <iterator>
#include <thread>

namespace zol::sim {

namespace {

struct Kind {
  const char* hardwareIds;
  uint16_t vendor, product;
  bool refuses;  // opened by Windows for its own exclusive use
};

// One receiver with keyboard, mouse and control collections, a precision touchpad, a vendor
// collection, another device of the display's own vendor, and a Bluetooth keyboard.
constexpr Kind kKinds[] = {
    {"vid_046d&pid_c52b&mi_00", 0x046D, 0xC52B, true},
    {"vid_046d&pid_c52b&mi_01&col01", 0x046D, 0xC52B, true},
    {"vid_046d&pid_c52b&mi_01&col02", 0x046D, 0xC52B, false},
    {"vid_046d&pid_c52b&mi_01&col03", 0x046D, 0xC52B, false},
    {"vid_046d&pid_c52b&mi_02&col01", 0x046D, 0xC52B, false},
    {"vid_06cb&pid_ce26&col01", 0x06CB, 0xCE26, true},
    {"vid_06cb&pid_ce26&col02", 0x06CB, 0xCE26, false},
    {"vid_04d8&pid_000a", 0x04D8, 0x000A, false},
    {"{00001124-0000-1000-8000-00805f9b34fb}_vid&0002046d_pid&b342&col01", 0x046D, 0xB342, true},
    {"{00001124-0000-1000-8000-00805f9b34fb}_vid&0002046d_pid&b342&col02", 0x046D, 0xB342, false},
};

}  // namespace

std::string HidSimEntry(const std::string& path, uint16_t vendor, uint16_t product,
                        uint16_t version, uint16_t inputLength, uint16_t outputLength) {
  char numbers[64];
  std::snprintf(numbers, sizeof numbers, "|%x|%x|%x|%x|%x", vendor, product, version, inputLength,
                outputLength);
  return path + numbers;
}

void SetHidSimDevices(const std::vector<std::string>& entries) {
  std::string text;
  for (const std::string& entry : entries) text += (text.empty() ? "" : ";") + entry;
  SetEnvironmentVariableA("ZOL_HIDSIM_DEVICES", text.c_str());
}

ForeignHidInterfaces::ForeignHidInterfaces(int count) {
  for (int i = 0; i < count; ++i) {
    const Kind& kind = kKinds[static_cast<size_t>(i) % std::size(kKinds)];
    const std::string path = HidPipeServer::InterfacePath(kind.hardwareIds);
    servers_.push_back(
        std::make_unique<HidPipeServer>(path, kind.refuses ? HidPipeServer::Access::AttributesOnly
                                                           : HidPipeServer::Access::ReadWrite));
    entries_.push_back(HidSimEntry(path, kind.vendor, kind.product, 0x0100, 8, 8));
    if (kind.refuses) ++refusing_;
  }
}

bool ForeignHidInterfaces::Start() {
  for (auto& server : servers_)
    if (!server->Start()) return false;
  return true;
}

void ForeignHidInterfaces::Stop() {
  for (auto& server : servers_) server->Stop();
}

int ForeignHidInterfaces::opens() const {
  int opens = 0;
  for (const auto& server : servers_) opens += server->connectionsAccepted();
  return opens;
}

HidPc::HidPc(int foreign, const std::string& hardwareIds, HidEndpoint& display, Ids ids)
    : foreign_(foreign), display_(HidPipeServer::InterfacePath(hardwareIds), display), ids_(ids) {}

HidPc::~HidPc() {
  display_.Stop();
  foreign_.Stop();
  SetEnvironmentVariableA("ZOL_HIDSIM_DEVICES", nullptr);
}

bool HidPc::Start() {
  if (!foreign_.Start() || !display_.Start()) return false;
  List();
  return true;
}

bool HidPc::Replug() {
  if (!display_.Replug()) return false;
  List();
  return true;
}

void HidPc::List() {
  std::vector<std::string> entries = {"wine"};
  entries.insert(entries.end(), foreign_.entries().begin(), foreign_.entries().end());
  entries.push_back(HidSimEntry(display_.path(), ids_.vendor, ids_.product, ids_.version));
  SetHidSimDevices(entries);
}

bool HidPc::RunOrUnplug(const std::function<void()>& call, DWORD limitMs) {
  HANDLE returned = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  bool unplugged = false;
  // The calling thread is inside call meanwhile, so the display is still one thread's at a
  // time.
  std::thread watchdog([&] {
    if (WaitForSingleObject(returned, limitMs) != WAIT_TIMEOUT) return;
    unplugged = true;
    display_.Stop();
  });
  call();
  SetEvent(returned);
  watchdog.join();
  CloseHandle(returned);
  return unplugged;
}

}  // namespace zol::sim
