// The driver object's command channel as the device side uses it, without threads: records
// what was queued, and mirrors the driver's ClearDisplay (nothing is queued while suspended)
// and self-suspension (the flag is set at once, the disconnect runs as a later command).
#pragma once

#include <vector>

#include "connection/device_service.h"
#include "connection/driver_control.h"
#include "core/shared_state.h"

namespace zol::sim {

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

}  // namespace zol::sim
