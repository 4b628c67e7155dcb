// Shared pieces of the end-to-end tests: zol.dll loaded as a host loads it, the process's
// resources for leak checks, waits that keep the calling thread's messages flowing, and the
// serial display's control channel.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "c_host.h"
#include "process_resources.h"

namespace zol::e2e {

// Waits until condition() holds or limitMs passed, dispatching this thread's messages meanwhile
// (key events reach the host from the message loop of the thread that called Open).
template <typename Condition>
bool PumpUntil(Condition condition, DWORD limitMs = 20000) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    if (condition()) return true;
    if (GetTickCount() - start > limitMs) return false;
    Sleep(5);
  }
}
void PumpFor(DWORD ms);

// zol.dll from the folder of the build's binaries, and a C host for it.
struct LoadedDriver {
  LoadedDriver();
  ~LoadedDriver();
  bool ok() const { return module != nullptr && driver != nullptr; }
  HMODULE module = nullptr;
  void* driver = nullptr;
  CHost* host = nullptr;
};
std::string ZolDllPath();

// The host pattern whose device pattern is dots of the display: inverse of the bit mapping.
uint8_t HostPattern(uint8_t device);
uint8_t DevicePattern(uint8_t host);

using testing::Describe;
using testing::MeasureResources;
using testing::Resources;

// A new section of size bytes named name that grants every account mapping it for reading and
// writing and nothing else, as one created by another account or an elevated program leaves it
// to this one; null on failure or when a section of that name exists already.
HANDLE CreateReadWriteOnlySection(const char* name, DWORD size);

// Index of the first key event named name from index from on, or -1.
int FindKey(CHost* host, const char* name, int from = 0);

// The driver's trace (ZOL_TRACE) in a file of its own, for a driver loaded after this is made:
// the driver decides whether to trace at its first Open.
class DriverTrace {
 public:
  DriverTrace();
  ~DriverTrace();
  DriverTrace(const DriverTrace&) = delete;
  DriverTrace& operator=(const DriverTrace&) = delete;
  std::string Text() const;
  // The part written since the last call.
  std::string TakeNew();

 private:
  std::string path_;
  size_t taken_ = 0;
};

// The serial display run by run_with_sim_control.sh.
class SimControl {
 public:
  SimControl();
  ~SimControl();
  bool ok() const { return fifo_ != INVALID_HANDLE_VALUE; }
  const std::string& com() const { return com_; }

  void Send(const std::string& command);
  std::vector<std::string> Lines();
  size_t Mark() { return Lines().size(); }
  // Lines from mark on that start with prefix.
  std::vector<std::string> LinesSince(size_t mark, const std::string& prefix);
  // Waits (pumping messages) for count lines starting with prefix from mark on.
  bool WaitFor(size_t mark, const std::string& prefix, size_t count = 1, DWORD limitMs = 20000);
  // The display's last frame: the data bytes of "cells ..." or empty for "cells none".
  std::vector<uint8_t> LastFrame();
  int Count(const std::string& type);
  // Ends the display program; Restart starts it again on the same COM link.
  void Quit();
  bool Restart();

 private:
  std::string dir_;
  std::string com_;
  HANDLE fifo_ = INVALID_HANDLE_VALUE;
};

// Parses "rx CELLS 00 11 ..." into its bytes.
std::vector<uint8_t> HexBytesAfter(const std::string& line, const std::string& prefix);

}  // namespace zol::e2e
