#include "sim/driver_control_recorder.h"

namespace zol::sim {

void DriverControlRecorder::PostClear() {
  ++clearsPosted;
  if (shared_.suspended.load() == 0) queued.push_back(Command::Clear);
}

void DriverControlRecorder::PostSelfSuspend() {
  ++selfSuspends;
  shared_.suspended = 1;
  queued.push_back(Command::Suspend);
}

void DriverControlRecorder::RunQueued(DeviceService& device) {
  while (!queued.empty()) {
    const Command command = queued.front();
    queued.erase(queued.begin());
    if (command == Command::Clear) {
      device.Clear();
    } else {
      device.Suspend(1);
    }
  }
}

}  // namespace zol::sim
