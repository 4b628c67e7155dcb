// What the device side asks of the driver object's command channel, from the worker thread.
#pragma once

namespace zol {

class DriverControl {
 public:
  virtual ~DriverControl() = default;
  // The driver's own ClearDisplay: queues a clear behind the running command without waiting,
  // unless the driver is suspended.
  virtual void PostClear() = 0;
};

}  // namespace zol
