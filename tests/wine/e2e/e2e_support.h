// Shared pieces of the end-to-end tests: zol.dll loaded as a host loads it, the process's
// resources for leak checks, the driver's trace, and from testing/ the waits that keep the
// calling thread's messages flowing, the client of the serial display and the dot map's
// inverse.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "c_host.h"
#include "connection/dot_map.h"
#include "process_resources.h"
#include "testing/device_dots.h"
#include "testing/message_pump.h"
#include "testing/serial_display_client.h"

namespace zol::e2e {

// What a wait of the end-to-end tests allows unless it says otherwise.
constexpr double kWaitMs = 20000;
using testing::DeviceCells;
using testing::HexBytesAfter;
using testing::HostCells;
using testing::MapDotsToHost;
using testing::Pump;
using testing::PumpUntil;
using testing::SerialDisplayClient;

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

}  // namespace zol::e2e
