// The driver object's command channel as the device side uses it, without threads: records
// what was queued, and mirrors the driver's ClearDisplay (nothing is queued while suspended).
#pragma once

#include <vector>

#include "connection/device_service.h"
#include "connection/driver_control.h"
#include "core/shared_state.h"

namespace zol::sim {

class DriverControlRecorder : public DriverControl {
 public:
  enum class Command { Clear };

  explicit DriverControlRecorder(SharedState& shared) : shared_(shared) {}
  void PostClear() override;
  // Runs the queued commands in order, as the worker thread would after the current one.
  void RunQueued(DeviceService& device);

  std::vector<Command> queued;
  int clearsPosted = 0;

 private:
  SharedState& shared_;
};

}  // namespace zol::sim
