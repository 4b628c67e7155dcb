// Stand-ins for the driver object and the cooperating program, for the device-side tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "connection/device_service.h"
#include "connection/driver_control.h"
#include "connection/share_section.h"
#include "core/shared_state.h"
#include "input/host_link.h"
#include "input/key_injector.h"

namespace zol::test {

// The shared block as the cooperating program sees it: it exists once Create() was called.
class MemoryShareSection : public ShareSection {
 public:
  static constexpr size_t kSize = 255;

  bool OpenMapping() override;
  uint8_t* MapView() override;
  void Release() override;

  void Create() { exists = true; }
  void SetWord(size_t offset, int32_t value);
  int32_t Word(size_t offset) const;

  bool exists = false;
  bool mapFails = false;
  bool open = false;  // a handle is open
  int opens = 0;
  int maps = 0;
  uint8_t block[kSize] = {};
};

// The command channel as the device side uses it: records what was queued, and mirrors the
// driver's ClearDisplay (nothing is queued while suspended) and self-suspension (the flag is
// set at once, the disconnect runs as a later command).
class DriverControlRecorder : public DriverControl {
 public:
  enum class Command { Clear, Suspend };

  explicit DriverControlRecorder(SharedState& shared) : shared_(shared) {}
  void PostClear() override;
  void PostSelfSuspend() override;
  // Runs the queued commands in order, as the worker thread would after the current one.
  void RunQueued(DeviceService& device);

  std::vector<Command> queued;
  int clearsPosted = 0;
  int selfSuspends = 0;

 private:
  SharedState& shared_;
};

class HostRecorder : public HostLink {
 public:
  struct Event {
    std::string name;
    int32_t value;
  };
  bool HostSet() override { return true; }
  void PostKeyEvent(const char* name, int32_t value) override { events.push_back({name, value}); }
  void DeviceData(const uint8_t*, int32_t) override {}

  std::vector<Event> events;
};

class NullKeyInjector : public KeyInjector {
 public:
  int16_t KeyWordForChar(char) override { return -1; }
  void VirtualKey(uint8_t, uint32_t) override {}
  void ScanCode(uint16_t, uint32_t) override {}
};

}  // namespace zol::test
