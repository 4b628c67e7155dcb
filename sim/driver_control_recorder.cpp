#include "sim/driver_control_recorder.h"

namespace zol::sim {

void DriverControlRecorder::PostClear() {
  ++clearsPosted;
  if (shared_.suspended.load() == 0) queued.push_back(Command::Clear);
}

void DriverControlRecorder::RunQueued(DeviceService& device) {
  while (!queued.empty()) {
    queued.erase(queued.begin());
    device.Clear();
  }
}

}  // namespace zol::sim
