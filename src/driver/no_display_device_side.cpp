// The device side of zol.dll until the connection is linked in: no display ever answers, so
// every Open fails cleanly. Replace this file's AttachDeviceSide to connect real displays.
#include "driver/device_side.h"

namespace zol {

namespace {

class NoDisplayDeviceSide final : public DeviceService {
 public:
  int Connect(const char*) override { return 0; }
  void Disconnect() override {}
  void Suspend(int32_t) override {}
  void WriteText(const uint8_t*, int32_t) override {}
  void WriteAll(const uint8_t*, int32_t) override {}
  void Clear() override {}
  void PollTick() override {}
  void Shutdown() override {}
};

}  // namespace

DeviceService& AttachDeviceSide(const DriverParts&) {
  static NoDisplayDeviceSide device;
  return device;
}

}  // namespace zol
